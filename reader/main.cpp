#include "common/exit.h"
#include "reader/startup.h"

int main(int argc, char** argv) {
    return run_main(vorka_main, argc, argv);
}
