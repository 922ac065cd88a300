#include "text/genre_table.h"

#include <cstring>

#include "text/genre_names_table.h"

static_assert(kLongestGenreLine < kGenreLineSize, "a genre line must fit its buffer");

namespace {

const char kSeparator[] = " - ";

const char* FindSubgenre(uint8_t nibbles) {
    for (const SubgenreName& entry : kSubgenreNames) {
        if (entry.nibbles == nibbles) return entry.name;
    }
    return nullptr;
}

}  // namespace

int32_t FormatGenreLine(char* destination, int32_t capacity, uint8_t nibbles) {
    if (destination == nullptr || capacity < 1) return 0;
    destination[0] = '\0';
    const uint8_t level1 = static_cast<uint8_t>(nibbles >> 4);
    const char* genre = kGenreNames[level1];
    const char* subgenre = FindSubgenre(nibbles);
    if (genre == nullptr || subgenre == nullptr) return 0;
    const bool withSubgenre = level1 != kGenreExtension;
    const size_t prefixLength = std::strlen(kGenrePrefix);
    const size_t genreLength = std::strlen(genre);
    const size_t separatorLength = withSubgenre ? std::strlen(kSeparator) : 0;
    const size_t subgenreLength = withSubgenre ? std::strlen(subgenre) : 0;
    const size_t total = prefixLength + genreLength + separatorLength + subgenreLength;
    if (total > static_cast<size_t>(capacity - 1)) return 0;
    char* p = destination;
    std::memcpy(p, kGenrePrefix, prefixLength);
    p += prefixLength;
    std::memcpy(p, genre, genreLength);
    p += genreLength;
    std::memcpy(p, kSeparator, separatorLength);
    p += separatorLength;
    std::memcpy(p, subgenre, subgenreLength);
    p += subgenreLength;
    *p = '\0';
    return static_cast<int32_t>(total);
}
