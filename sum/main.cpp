#include "common/exit.h"
#include "sum/sum_main.h"

int main(int argc, char** argv) {
    return run_main(sum_main, argc, argv);
}
