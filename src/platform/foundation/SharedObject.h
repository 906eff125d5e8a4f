#pragma once
// Objects that hand out `shared_from_this` (to keep themselves alive in queued work, or to give
// a child a weak back-pointer) must live in a `shared_ptr` from birth: `Foo f; f.start();` would
// compile and then throw `bad_weak_ptr`. Such a class makes its constructors private (protected
// when it is subclassed) and either has a named factory of its own or declares, first thing in
// its body,
//
//   class Label : public View {
//     CH_SHARED_OBJECT(Label)
//    public:
//     ...
//    protected:
//     explicit Label(std::string text);
//   };
//
// which gives it `static std::shared_ptr<Label> create(args...)`. Every subclass declares it
// again, so `create` always makes the class it is called on. Classes made by the million on a hot
// path use a pass-key tag instead, which keeps `std::make_shared`'s single allocation.

#include <memory>
#include <utility>

#define CH_SHARED_OBJECT(Class)                                            \
 public:                                                                   \
  template <typename... Args>                                              \
  static std::shared_ptr<Class> create(Args&&... args) {                   \
    return std::shared_ptr<Class>(new Class(std::forward<Args>(args)...)); \
  }                                                                        \
                                                                           \
 private:
