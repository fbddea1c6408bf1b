#pragma once

// The program-wide route of errors that no window catches. Every handler the windows connect is
// wrapped by `guarded`, and the application object catches what escapes an event handler, so an
// exception never unwinds through the toolkit and never ends the program: it reaches the installed
// hook with the object that raised it (the main window's ApplicationEventsException), or, without
// a hook, the plain error box.

#include <QObject>
#include <QString>

#include <cstddef>
#include <exception>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace qdx::ui {

using ExceptionHook = std::function<void(QObject* Sender, const std::exception& E)>;

// Installs the hook (an empty one restores the plain error box) and returns the previous one.
ExceptionHook setExceptionHook(ExceptionHook hook);

// Hands the exception being handled to the hook. Called inside a catch block; never throws (an
// error inside the hook itself is written to standard error). An error raised while the hook is
// showing another one is not lost: it is shown when that one is done, in the order raised, and
// the same error (text and origin) raised several times meanwhile is shown once, with its count.
void routeCurrentException(QObject* sender) noexcept;

// The text of an error shown once for `count` raisings: "<text> (<count> times)".
QString repeatedText(const QString& text, int count);

// The text an exception carries, in the system's own words where it has them.
QString exceptionText(const std::exception& e);

namespace detail {

template <class F, class Tuple, std::size_t... I>
constexpr bool invocableWith(std::index_sequence<I...>) {
    return std::is_invocable_v<F&, std::tuple_element_t<I, Tuple>...>;
}

// Calls f with as many of the leading arguments as it takes (signals may carry more, such as
// a private tag, than a handler wants).
template <class F, class Tuple, std::size_t N = std::tuple_size_v<Tuple>>
void callWithPrefix(F& f, Tuple& args) {
    if constexpr (invocableWith<F, Tuple>(std::make_index_sequence<N>{})) {
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            f(std::get<I>(std::move(args))...);
        }
        (std::make_index_sequence<N>{});
    } else {
        static_assert(N > 0, "the handler cannot take these arguments");
        callWithPrefix<F, Tuple, N - 1>(f, args);
    }
}

} // namespace detail

// A handler that runs `f` and routes whatever it throws, with `sender` as its origin.
template <class F>
auto guarded(QObject* sender, F f) {
    return [sender, f = std::move(f)](auto&&... args) mutable {
        try {
            auto all = std::forward_as_tuple(std::forward<decltype(args)>(args)...);
            detail::callWithPrefix(f, all);
        } catch (...) {
            routeCurrentException(sender);
        }
    };
}

} // namespace qdx::ui
