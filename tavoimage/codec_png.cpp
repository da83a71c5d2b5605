// placeholder, being written
#include "tavoimage/codecs.h"
namespace tavoimage {
int32_t decodeImageFile(const std::string &, bool, Image &) { return TAVOIMG_ERR_FORMAT; }
int32_t encodeImageFile(const Image &, const std::string &) { return TAVOIMG_ERR_FORMAT; }
}
