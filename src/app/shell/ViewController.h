#pragma once
// ViewController: a template screen of the application that nothing creates or shows; its
// operations only call the platform's.

#include <optional>
#include <string>

#include "platform/ui/ViewController.h"

class ViewController : public platform::ViewController {
  CH_SHARED_OBJECT(ViewController)

 protected:
  explicit ViewController(std::optional<std::string> nibName = std::nullopt)
      : platform::ViewController(std::move(nibName)) {}
};
