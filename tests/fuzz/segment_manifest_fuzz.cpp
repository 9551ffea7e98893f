// ParseSegmentManifest on arbitrary bodies. An accepted manifest, written as the
// local segment record and read back, must give the same manifest: the record
// is how the next run learns what is installed.

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/manifest.h"
#include "files/segment_files.h"
#include "files/text.h"
#include "tests/fuzz/fuzz_support.h"

using quorvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    quorvane::SegmentManifest manifest;
    const bool accepted =
        quorvane::fuzz::SucceedsOrFailsAsDocumented([&] { manifest = quorvane::ParseSegmentManifest(body); });
    if (!accepted) return 0;
    Require(manifest.format == quorvane::kSegmentManifestFormat, "an accepted manifest has the one format");
    Require(manifest.schema_version == 1 && manifest.rows > 0, "an accepted manifest has schema 1 and rows");

    // The scanner finds a quoted key anywhere, also inside a value: a version or
    // address that is exactly the name of a later key, or ends with a quote and
    // that name, hides that key (its closing quote completes the pattern). The
    // record keeps that limit of the flat format.
    for (const std::string& text : {quorvane::WideToUtf8(manifest.version), quorvane::WideToUtf8(manifest.url)}) {
        for (const std::string key : {"url", "format", "schema_version", "rows", "sha256"}) {
            if (text == key || text.ends_with('"' + key)) return 0;
        }
    }

    const std::string record = quorvane::ComposeLocalSegmentRecord(manifest, "2026-03-01T08:05:09.042Z");
    quorvane::SegmentManifest read_back;
    Require(quorvane::fuzz::SucceedsOrFailsAsDocumented([&] { read_back = quorvane::ParseSegmentManifest(record); }),
            "the record of an accepted manifest reads back");
    Require(read_back.version == manifest.version, "the record keeps the version");
    Require(read_back.url == manifest.url, "the record keeps the address");
    Require(read_back.sha256 == manifest.sha256, "the record keeps the digest");
    Require(read_back.rows == manifest.rows, "the record keeps the rows");
    return 0;
}
