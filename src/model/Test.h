#pragma once
// Test: a placeholder of the model layer with one operation that does nothing.

class Test {
 public:
  void test() {}
};
