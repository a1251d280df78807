// The process entry: the raw command line in, the exit code out.
#include "inspector/toolmain.h"

#include "platform/platform.h"

int main(int argc, char** argv) {
    const WChar* commandLine = g_platform.commandLine(argc, argv);
    g_platform.exitProcess(ToolMain(SkipProgramName(commandLine)));
}
