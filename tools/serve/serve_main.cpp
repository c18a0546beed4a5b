// bmpface-serve: the program behind `bmpface serve` (launch.cpp), which hands it its arguments
// from the mode's word on.
#include "command.h"

int main(int argc, char** argv) { return bmpface::cli::RunServe(argc, argv); }
