// velora-batch: Velora's conversion for many photos from the command line.
#include <string>
#include <vector>

#include "Batch.h"
#include "Platform.h"

int main(int argc, char** argv) {
    using namespace velora::batch;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    BatchEnvironment environment;
    environment.Terminal = IsTerminal(stderr);
    environment.Colour = WantsColour(stderr);
    environment.Columns = TerminalColumns(stderr);
    if (environment.Terminal) {
        environment.Resizes = &InstallResizeHandler();
        environment.ColumnsNow = [] { return TerminalColumns(stderr); };
    }
    environment.Cores = UsableCores();
    environment.Cancel = &InstallInterruptHandlers();
    IgnoreBrokenPipes();
    return RunBatch(arguments, environment);
}
