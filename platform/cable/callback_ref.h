// A non-owning reference to a callable, for the callbacks that run once per
// frame on both ends of the cable (checking an answer while its bytes are
// still in the receive buffer, using the file store under its lock). Unlike
// std::function it never allocates, whatever the callable captures.
//
// It refers to the callable, so it is for passing one down a call: the
// callable must outlive every call through the reference.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace nuva::cable {

template <class Signature>
class CallbackRef;

template <class R, class... Args>
class CallbackRef<R(Args...)> {
  public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, CallbackRef> && std::is_invocable_r_v<R, F&, Args...>)
        CallbackRef(F&& callable)  // NOLINT(google-explicit-constructor): passed like a function
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

}  // namespace nuva::cable
