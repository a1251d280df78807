// The process entry of sondrel-scan: the raw command line in, the status out.
#include "inspector/scan.h"
#include "inspector/toolmain.h"

int main(int argc, char** argv) {
    const WChar* commandLine = g_platform.commandLine(argc, argv);
    g_platform.exitProcess(ScanMain(SkipProgramName(commandLine)));
}
