// The command line: the positional form (profile, font, output, rows) and the option form.
#pragma once

namespace vimbra {

// Runs the tool on its command line and returns the process's exit status. A first argument
// that begins with '-' selects the option form; every other line is the positional form.
int cli_main(int argc, char** argv);

} // namespace vimbra
