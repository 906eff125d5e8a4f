// The chengheng executable: runs the application with AppDelegate as its delegate until the main
// run loop is stopped.

#include "app/AppDelegate.h"
#include "platform/ui/Application.h"

int main(int argc, char** argv) {
  return platform::ApplicationMain(argc, argv, [] { return AppDelegate::create(); });
}
