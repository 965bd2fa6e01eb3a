#include "app/cli.hpp"

using namespace vimbra;

int main(int argc, char** argv) {
    return cli_main(argc, argv);
}
