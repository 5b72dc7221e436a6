#include "CStd/PathJoin.h"

#include <cstring>

#include "CStd/CStd.h"

namespace Tarn {

namespace {
bool IsAbsolute(const char* component)
{
    return component[0] == '/' || component[0] == '\\' || (component[0] != '\0' && component[1] == ':');
}
}  // namespace

bool PathJoin(char* destination, std::initializer_list<const char*> components)
{
    if (destination == nullptr || components.size() > 8) return false;
    size_t position = 0;
    bool first = true;
    for (const char* component : components) {
        const bool isFirst = first;
        first = false;
        if (component == nullptr || component[0] == '\0') continue;
        const bool aliased = component >= destination && component < destination + kMaxPath;
        if (aliased && !(isFirst && component == destination)) return false;
        if (IsAbsolute(component)) position = 0;
        if (position > 0 && destination[position - 1] != '/' && destination[position - 1] != '\\' &&
            kMaxPath - position >= 2)
            destination[position++] = '/';
        const size_t length = std::strlen(component);
        if (length >= kMaxPath - position) return false;
        std::memmove(destination + position, component, length);
        for (size_t i = 0; i < length; ++i)
            if (destination[position + i] == '\\') destination[position + i] = '/';
        position += length;
    }
    destination[position] = '\0';
    return true;
}

}  // namespace Tarn
