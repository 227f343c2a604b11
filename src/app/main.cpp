#include "app/RunSequence.h"

int main(int argc, char** argv) { vorta::runProgram(argc, argv); }
