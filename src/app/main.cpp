#include "app/LomexMain.h"

int main(int argc, char** argv) { return lomex::LomexMain::main(argc, argv); }
