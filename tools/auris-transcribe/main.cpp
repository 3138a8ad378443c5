// auris-transcribe: transcribes audio files with the Auris engine and writes the results.
// Run with --help for the options.

#include "tools/auris-transcribe/TranscribeCommand.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    auris::TranscribeCommandEnvironment environment;
    environment.errorIsTerminal = ::isatty(STDERR_FILENO) == 1;
    winsize size {};
    if (environment.errorIsTerminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        environment.terminalWidth = size.ws_col;
    }
    return auris::runTranscribeCommand(
        std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, environment);
}
