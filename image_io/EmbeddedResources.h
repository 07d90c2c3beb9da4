// Inside image_io only: files compiled into the program at build time (see
// EmbedResources.cmake), found by numeric name and type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct EmbeddedResource {
    std::uint32_t name;
    const char* type;
    const std::uint8_t* data;
    std::size_t size;
};

// Generated.
extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

// The resource with this name and type (type compared without regard to
// ASCII case), or null.
const EmbeddedResource* FindEmbeddedResource(std::uint32_t name, const std::string& type);
