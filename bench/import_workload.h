#pragma once

// The playlist document of the import benchmarks (import-bench,
// fetch-process-bench), written with the test support's items
// (tests/support/playlist_items.h): items of the three kinds, each with a
// Chinese name and remark, start and end dates spread over the month, and the
// row the store keeps for each (playlist_document.h's kImportedFields order),
// for the benchmarks' own SQL floors.

#include <cstdio>
#include <string>
#include <vector>

#include "playlist/playlist_document.h"
#include "tests/support/playlist_items.h"

namespace zorvak::bench {

using Row = std::vector<std::string>;

struct ImportWorkload {
    std::string utf8;       // the document, declared gb2312, as UTF-8
    std::vector<Row> rows;  // one per item, kImportedFields order
};

inline ImportWorkload MakeImportDocument(int items, const std::string& name,
                                         const std::string& remark) {
    ImportWorkload w;
    std::string children;
    for (int i = 0; i < items; ++i) {
        const std::string n = std::to_string(i);
        const int day = 1 + i % 28;
        char start[32], end[32];
        std::snprintf(start, sizeof start, "2024-01-%02d 08:00:00", day);
        std::snprintf(end, sizeof end, "2030-12-%02d 18:30:00", day);
        const test::PlaylistItem item{
            .order_sx = i % 500,
            .f_lx = i % 3 == 0 ? "10" : i % 3 == 1 ? "20" : "30",
            .listurl = "http://127.0.0.1/media/item" + n + ".mp4",
            .f_filename = "item" + n + ".mp4",
            .online_play = i % 2,
            .play_time = 15,
            .f_startdate = std::string(start),
            .f_enddate = std::string(end),
            .id = i,
            .f_enable = 1,
            .playname = name + " " + n,
            .hostname = "demo.zorvak.cn",
            .f_date = "2024-01-01 00:00:00",
            .remark = remark + " " + n,
            .f_flag = 1,
            .parid = 0,
            .file_md5 = "d41d8cd98f00b204e9800998ecf8427e",
            .update_time = "2024-01-01 12:00:00",
        };
        children += item.Xml() + "\n";
        Row row;
        test::PlaylistItem filled = item;
        for (std::size_t f = 0; f < kImportedFieldCount; ++f) row.push_back(filled[kImportedFields[f]].Text());
        w.rows.push_back(std::move(row));
    }
    w.utf8 = test::Document("\n" + children);
    return w;
}

}  // namespace zorvak::bench
