// The process entry: the raw command line in, the exit code out.
#include "inspector/commandline.h"
#include "inspector/toolmain.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    g_platform.exitProcess(ToolMain(SkipProgramName(ReadCommandLine(argc, argv))));
}
