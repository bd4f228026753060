// volink: the adapter probe, image and firmware-update tool.
#include <iostream>
#include <string>
#include <vector>

#include "volink/Volink.h"

int main(int argc, char** argv) { return RunVolink({argv + 1, argv + argc}, std::cout, std::cerr); }
