#include "driver/run.h"

int main(int argc, char** argv) { return romweave::run_conversion(argc, argv); }
