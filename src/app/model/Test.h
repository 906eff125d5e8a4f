#pragma once
// Test: a placeholder of the model layer with one operation that does nothing. Nothing calls it;
// it is kept because the model layer of the design has it.

class Test {
 public:
  void test() {}
};
