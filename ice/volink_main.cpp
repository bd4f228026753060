// volink: command-line probe over the adapter command layer.
#include <iostream>
#include <string>
#include <vector>

#include "ice/VolinkTool.h"

int main(int argc, char** argv) {
  return RunVolink(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
