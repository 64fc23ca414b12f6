#include "core/splash_image.hpp"
#include "platform/image_section_win.hpp"

namespace brevlo {

std::optional<SplashImage> embedded_splash_image() {
  return decode_splash_image(own_image_section(kSplashSection));
}

}  // namespace brevlo
