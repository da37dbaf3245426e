// Metadata that travels as JPEG segments whatever file it came from: Photoshop's image resources
// (with the IPTC records among them) as APP13 segments, comments as COM segments. A TIFF, PNG or
// GIF file's forms of them are turned into segments on reading; a PNG is written with its own
// forms of what a PNG can hold, and whatever it cannot hold is named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Codecs.h"

namespace velora {

using SegmentList = std::vector<ExtraMetadata::Segment>;

// Photoshop's image resources ("8BIM" blocks) of every APP13 segment that carries them, joined in
// their order (a long run of resources goes on over several segments); empty when there are none.
std::vector<std::uint8_t> PhotoshopResources(const SegmentList& segments);

// Appends `resources` as APP13 segments: whole resources while they fit one segment, a larger
// one split over as many as it needs.
void AddPhotoshopSegments(const std::vector<std::uint8_t>& resources, SegmentList& segments);

// IPTC records wrapped as the resource that carries them (0x0404).
std::vector<std::uint8_t> IptcResource(const std::uint8_t* records, std::size_t size);

// True when `resources` hold an IPTC resource.
bool HoldsIptcResource(const std::vector<std::uint8_t>& resources);

// A TIFF file's first page's IPTC records (tag 0x83BB) and Photoshop resources (0x8649) as one
// run of resources; empty when it has neither.
std::vector<std::uint8_t> PhotoshopFromTiff(const std::uint8_t* data, std::size_t size);

// Appends a comment as a COM segment (its bytes as they are; longer than a segment: named left
// out when the JPEG is written).
void AddComment(const std::string& text, SegmentList& segments);

// Latin-1 text (a PNG's tEXt and zTXt chunks) in UTF-8.
std::string Latin1ToUtf8(const std::string& text);

// A PNG text chunk's "Raw profile type" form of binary data, and back. Decoding fails on
// anything but that form.
std::string RawProfileText(const char* name, const std::vector<std::uint8_t>& data);
bool RawProfileData(const std::string& text, std::vector<std::uint8_t>& data);

// An XMP packet in UTF-8, converted from UTF-16 or UTF-32 where it is, with the Extended XMP
// that `segments` carry merged into it.
std::string XmpInUtf8(const std::string& xmp, const SegmentList& segments);

// What a segment is, in words a user knows ("IPTC", "FlashPix", "APP4 segment").
std::string SegmentKind(const ExtraMetadata::Segment& segment);

// True for a segment that names where its data lies in the file it came from, outside itself
// (the multi-picture index): it is never carried over.
bool PointsOutside(int marker, const std::uint8_t* data, std::size_t length);

// Turns what travels as JPEG segments and trailers into a PNG's text chunks; what a PNG cannot
// hold is named in meta.LeftOut and left out.
void SettleForPng(EncodedMetadata& meta);

// Leaves out, and names, the segments a JPEG file cannot write.
void SettleForJpeg(EncodedMetadata& meta);

}  // namespace velora
