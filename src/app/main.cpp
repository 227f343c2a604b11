#include "app/RunSequence.h"

int main(int argc, char** argv) { return vorta::runProgram(argc, argv); }
