// vantorelctl: command-line client of the driver. See the README, "Client library and vantorelctl".
#include <cstdlib>
#include <iostream>

#include "client/vantorelctl/Ctl.h"
#include "platform/Terminal.h"

int main(int argc, char** argv) {
  vantorel::ctl::CtlIo io{std::cout, std::cerr, Platform::StandardErrorIsTerminal(),
                          [](const std::string& name) -> std::optional<std::string> {
                            const char* value = std::getenv(name.c_str());
                            if (value == nullptr) return std::nullopt;
                            return std::string(value);
                          }};
  return vantorel::ctl::RunVantorelctl(argc, argv, io);
}
