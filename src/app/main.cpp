#include "app/cli.hpp"
#include "app/signals.hpp"

using namespace vimbra;

int main(int argc, char** argv) {
    signals_guard_outputs();
    return cli_main(argc, argv);
}
