// pitch-autopilot: the desktop program.
#include "app/startup.h"

int main(int argc, char** argv) { return pitch::RunApplication(argc, argv); }
