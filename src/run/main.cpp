#include "run/startup.h"

// The exit code is returned whole: 300 when no drive is found. A POSIX
// shell sees only its low 8 bits (44).
int main(int argc, char** argv) { return tessaly_main(argc, argv); }
