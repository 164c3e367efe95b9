// tamarind: the conversion wizard.
#include "wizard/app/program_start.h"

int main(int argc, char** argv) { return tamarind_main(argc, argv); }
