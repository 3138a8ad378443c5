// auris-transcribe: transcribes audio files with the Auris engine and writes the results.
// Run without arguments for the usage.

#include "tools/auris-transcribe/TranscribeCommand.hpp"

#include <iostream>

int main(int argc, char** argv)
{
    return auris::runTranscribeCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
