#pragma once

namespace orbvex::app {

inline constexpr const char* kWindowCaption = "TARNO_UP 2.2";
// The name on the task bar; one version behind the caption, as it always was.
inline constexpr const char* kApplicationTitle = "orbvex_up 2.1";
inline constexpr const char* kBanner =
    "Tarno Nimbex II satellite receiver JTAG utility     [www.orbvex.example]";
inline constexpr const char* kErrorBoxCaption = "Error";

}  // namespace orbvex::app
