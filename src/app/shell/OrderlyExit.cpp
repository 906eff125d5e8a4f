#include "shell/OrderlyExit.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "platform/ui/Application.h"

void OrderlyExit::prepare() {
  platform::Application::sharedApplication().terminate();
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
}

void OrderlyExit::leave(int status) {
  prepare();
  ::_exit(status);
}
