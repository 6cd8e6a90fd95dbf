#pragma once

// Builders of resource files (PE and NE) and icon images for the tests of the units that read them.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/FileStructure.h"

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v), b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBig32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline ByteSpan Span(const Bytes& b) {
    return ByteSpan{b.data(), b.size()};
}

// An icon image: bitmap header, full palette, colour rows and mask rows (all zero).
inline Bytes BitmapImage(int size, uint16_t bits) {
    const size_t palette = bits <= 8 ? (size_t{1} << bits) * 4 : 0;
    const size_t colourRow = (size * bits + 31) / 32 * 4, maskRow = (size + 31) / 32 * 4;
    Bytes b(40 + palette + (colourRow + maskRow) * size, 0);
    Put32(b, 0, 40), Put32(b, 4, size), Put32(b, 8, size * 2), Put16(b, 12, 1), Put16(b, 14, bits);
    return b;
}

inline Bytes PngImage(uint32_t width, uint32_t height) {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    b.resize(64, 0);
    PutBig32(b, 16, width), PutBig32(b, 20, height);
    return b;
}

// A one-section PE file whose resource tree holds the icons and the groups (each naming icon identifiers).
struct PeFile {
    Bytes bytes;
    size_t root = 0;                 // root directory
    size_t groupNames = 0;           // the directory of the group names
    std::vector<size_t> groupData;   // each group's data entry
    std::vector<size_t> groupBlock;  // each group's directory block
};

inline PeFile BuildPe(const std::vector<std::pair<uint16_t, Bytes>>& icons,
                      const std::vector<std::vector<uint16_t>>& groups) {
    constexpr uint32_t kVa = 0x1000, kRaw = 0x200;
    const uint32_t nI = static_cast<uint32_t>(icons.size()), nG = static_cast<uint32_t>(groups.size());
    const uint32_t iconDir = 32, groupDir = iconDir + 16 + 8 * nI, languages = groupDir + 16 + 8 * nG;
    const uint32_t dataEntries = languages + 24 * (nI + nG);
    Bytes r(dataEntries + 16 * (nI + nG), 0);
    Put16(r, 14, 2), Put32(r, 16, 3), Put32(r, 20, 0x80000000u | iconDir);
    Put32(r, 24, 14), Put32(r, 28, 0x80000000u | groupDir);
    Put16(r, iconDir + 14, nI), Put16(r, groupDir + 14, nG);
    PeFile pe;
    const auto add = [&](uint32_t typeDir, uint32_t i, uint32_t k, uint16_t id, const Bytes& data) {
        Put32(r, typeDir + 16 + 8 * i, id), Put32(r, typeDir + 20 + 8 * i, 0x80000000u | (languages + 24 * k));
        Put16(r, languages + 24 * k + 14, 1), Put32(r, languages + 24 * k + 16, 0x409);
        Put32(r, languages + 24 * k + 20, dataEntries + 16 * k);
        Put32(r, dataEntries + 16 * k, kVa + static_cast<uint32_t>(r.size()));
        Put32(r, dataEntries + 16 * k + 4, static_cast<uint32_t>(data.size()));
        const size_t at = r.size();
        r.insert(r.end(), data.begin(), data.end());
        r.resize((r.size() + 3) / 4 * 4, 0);
        return at;
    };
    for (uint32_t i = 0; i < nI; ++i)
        add(iconDir, i, i, icons[i].first, icons[i].second);
    for (uint32_t g = 0; g < nG; ++g) {
        Bytes block(6 + 14 * groups[g].size(), 0);
        Put16(block, 2, 1), Put16(block, 4, static_cast<uint32_t>(groups[g].size()));
        for (size_t e = 0; e < groups[g].size(); ++e)
            Put16(block, 6 + 14 * e + 4, 1), Put16(block, 6 + 14 * e + 12, groups[g][e]);
        pe.groupBlock.push_back(kRaw + add(groupDir, g, nI + g, static_cast<uint16_t>(g + 1), block));
        pe.groupData.push_back(kRaw + dataEntries + 16 * (nI + g));
    }
    Bytes& b = pe.bytes;
    b.assign(kRaw, 0);
    b[0] = 'M', b[1] = 'Z', Put32(b, 0x3C, 0x40);
    b[0x40] = 'P', b[0x41] = 'E';
    Put16(b, 0x44, 0x14C), Put16(b, 0x46, 1), Put16(b, 0x54, 224);
    const size_t optional = 0x58;
    Put16(b, optional, 0x10B), Put32(b, optional + 92, 16);
    Put32(b, optional + 96 + 16, kVa), Put32(b, optional + 96 + 20, static_cast<uint32_t>(r.size()));
    const size_t section = optional + 224;
    b[section] = '.', b[section + 1] = 'r', b[section + 2] = 's', b[section + 3] = 'r', b[section + 4] = 'c';
    Put32(b, section + 8, static_cast<uint32_t>(r.size())), Put32(b, section + 12, kVa);
    Put32(b, section + 16, static_cast<uint32_t>(r.size())), Put32(b, section + 20, kRaw);
    b.insert(b.end(), r.begin(), r.end());
    pe.root = kRaw;
    pe.groupNames = kRaw + groupDir;
    return pe;
}

// An NE file (16-bit icon library): the resource table holds the icons, then the groups (each naming icon
// identifiers); blocks are aligned to 16 bytes.
struct NeFile {
    Bytes bytes;
    size_t table = 0;                // resource table (alignment shift first)
    size_t groupType = 0;            // the groups' type record
    std::vector<size_t> groupBlock;  // each group's directory block
};

inline NeFile BuildNe(const std::vector<std::pair<uint16_t, Bytes>>& icons,
                      const std::vector<std::vector<uint16_t>>& groups) {
    NeFile ne;
    const size_t tableSize = 2 + 8 + 12 * icons.size() + 8 + 12 * groups.size() + 2;
    Bytes& b = ne.bytes;
    b.assign(0x80 + tableSize, 0);
    b[0] = 'M', b[1] = 'Z', Put32(b, 0x3C, 0x40), b[0x40] = 'N', b[0x41] = 'E';
    Put16(b, 0x40 + 0x24, 0x40), Put16(b, 0x40 + 0x26, static_cast<uint32_t>(0x40 + tableSize));
    ne.table = 0x80;
    Put16(b, ne.table, 4);
    std::vector<Bytes> blocks;
    for (const auto& [id, data] : icons)
        blocks.push_back(data);
    for (const std::vector<uint16_t>& ids : groups) {
        Bytes block(6 + 14 * ids.size(), 0);
        Put16(block, 2, 1), Put16(block, 4, static_cast<uint32_t>(ids.size()));
        for (size_t e = 0; e < ids.size(); ++e)
            Put16(block, 6 + 14 * e + 12, ids[e]);
        blocks.push_back(block);
    }
    size_t record = ne.table + 2, info = 0;
    const auto type = [&](uint16_t typeId, size_t count) {
        Put16(b, record, typeId), Put16(b, record + 2, static_cast<uint32_t>(count));
        info = record + 8;
        record += 8 + 12 * count;
    };
    std::vector<size_t> infos;
    type(0x8003, icons.size());
    for (size_t i = 0; i < icons.size(); ++i, info += 12)
        infos.push_back(info), Put16(b, info + 6, 0x8000u | icons[i].first);
    ne.groupType = record;
    type(0x800E, groups.size());
    for (size_t g = 0; g < groups.size(); ++g, info += 12)
        infos.push_back(info), Put16(b, info + 6, static_cast<uint32_t>(0x8000u | (g + 1)));
    for (size_t k = 0; k < blocks.size(); ++k) {
        b.resize((b.size() + 15) / 16 * 16, 0);
        Put16(b, infos[k], static_cast<uint32_t>(b.size() >> 4));
        Put16(b, infos[k] + 2, static_cast<uint32_t>((blocks[k].size() + 15) >> 4));
        if (k >= icons.size()) ne.groupBlock.push_back(b.size());
        b.insert(b.end(), blocks[k].begin(), blocks[k].end());
    }
    b.resize((b.size() + 15) / 16 * 16, 0);
    return ne;
}
