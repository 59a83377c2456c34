#include "common/exit.h"
#include "reader/drive_session.h"
#include "reader/startup.h"

namespace {

int vorka_main(int argc, char** argv) {
    reader_run run;
    start_up(run, argc, argv);
    return run_with_drive(run);
}

}  // namespace

int main(int argc, char** argv) {
    return run_main(vorka_main, argc, argv);
}
