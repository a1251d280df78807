// The run: streams, start-up, the usage text, the command line's options
// and file name, the walk, and the ending that every path goes through.
#include "inspector/toolmain.h"

#include "inspector/commandline.h"
#include "inspector/walk.h"
#include "platform/platform.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

const WalkSink kStreamSink = {PrintMessageV, ReportErrorV, nullptr, nullptr};

namespace {

const WChar kUsageText[] =
    u"\r\n"
    u"sondrel %u.%u.%u.%u - RIFF/WAVE file inspector, by the sondrel developers\r\n"
    u"https://sondrel.org/\r\n"
    u"\r\n"
    u"Arguments: [<Options>] <Wave file>\r\n"
    u"\r\n"
    u"Options:\r\n"
    u"\r\n"
    u"-o - print format descriptor and data offsets.\r\n"
    u"-f - print format descriptor fields.\r\n"
    u"-v - verbose mode.\r\n";

// Decides the outcome of a run that holds its streams: start-up, then the
// usage text or the command line, then the walk of the one file. Every
// outcome it returns goes through the same ending in ToolMain.
ExitCode Run(const WChar* arguments) {
    if (!RuntimeStartup()) {
        ReportError(u"Cannot initialize application");
        return ExitNoRuntime;
    }
    const WChar* position = SkipCharsInSet(arguments, kBlankSet);
    if (*position == 0) {
        PrintMessage(kUsageText, SONDREL_VERSION_MAJOR, SONDREL_VERSION_MINOR, SONDREL_VERSION_PATCH,
                     SONDREL_VERSION_BUILD);
        return ExitUsage;
    }
    RunOptions options{false, false, false};
    const WChar* fileName = nullptr;
    ExitCode outcome = ReadArguments(position, options, fileName);
    if (outcome != ExitUndecided) return outcome;
    return WalkChunks(fileName, OpenToWalk(fileName), options, kStreamSink);
}

void CloseStream(OsHandle& handle) {
    if (handle == kNoHandle) return;
    g_platform.closeHandle(handle);
    handle = kNoHandle;
}

}  // namespace

ExitCode ToolMain(const WChar* arguments) {
    RuntimeState& rt = g_runtime;
    if (!GetStdStreams(nullptr, &rt.outputHandle, &rt.errorHandle)) {
        rt.outputHandle = kNoHandle;
        rt.errorHandle = kNoHandle;
        RuntimeShutdown();
        return ExitNoStreams;
    }
    ExitCode outcome = Run(arguments);
    // A report that did not all arrive is no success, though the file was
    // fine: a script that keeps it must learn that it is cut.
    uint32_t error;
    if (outcome == ExitSuccess && OutputLost(&error)) {
        WChar text[256];
        g_memoryHooks.errorText(text, 256, error);
        ReportError(u"Cannot write output (%s)", text);
        outcome = ExitNoStreams;
    }
    CloseStream(rt.outputHandle);
    CloseStream(rt.errorHandle);
    RuntimeShutdown();
    return outcome;
}
