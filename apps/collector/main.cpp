// The zncip-collector program: everything it does is in the library, behind runCli.
#include "app/cli.h"

#include <iostream>

int main(int argc, char** argv)
{
    return zncip::collector::runCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
