#include "image_io/EmbeddedResources.h"

#include <strings.h>

const EmbeddedResource* FindEmbeddedResource(std::uint32_t name, const std::string& type) {
    for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
        const EmbeddedResource& r = kEmbeddedResources[i];
        if (r.name == name && ::strcasecmp(r.type, type.c_str()) == 0) {
            return &r;
        }
    }
    return nullptr;
}
