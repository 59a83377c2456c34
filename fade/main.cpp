#include "common/exit.h"
#include "fade/fade_main.h"

int main(int argc, char** argv) {
    return run_main(fade_main, argc, argv);
}
