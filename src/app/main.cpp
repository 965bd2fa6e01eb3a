#include "app/cli.hpp"
#include "bmp/outfile.hpp"

int main(int argc, char** argv) {
    outfile_install_signal_handlers();
    return cli_main(argc, argv);
}
