// kestrin-info --epg --format xmltv: the programme guide as an XMLTV file,
// written as the EPG servers of this field write theirs so that the two can
// be merged:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <!DOCTYPE tv SYSTEM "xmltv.dtd">
//   <tv generator-info-name="kestrin-info">
//     <channel id="ID"><display-name lang="ja">NAME</display-name></channel>
//     <programme start="YYYYMMDDhhmmss +0900" stop="..." channel="ID">
//       <title lang="ja">, <desc lang="ja">, <category lang="ja">,
//       <category lang="en">, <episode-num>
//     </programme>
//   </tv>
//
// A channel per service of the EIT and of the SDT actual, its id network id
// x 100000 + service id in decimal, its display-name the SDT's service name
// (the id itself, without lang, when no SDT names the service: the DTD wants
// one). Channels by id; programmes by channel, then start.
//
// A programme: the short event's name as title (empty when the event has no
// short event descriptor: the DTD wants a title), and as desc its text, then
// for each extended item a blank line, the heading, a line break and the
// item's text, then the extended text_char the same way; then the series
// and relay lines of the viewer's details ("シリーズ: 第3回／全12回",
// "リレー: サービス 1025 イベント 8194"; text/event_details.h), one paragraph. Each genre twice, in Japanese ("大分類 -
// 中分類") and in English (tools/info/genre_english.*), reserved and
// extension entries and repeats left out. episode-num (xmltv_ns and
// onscreen) only from a series descriptor's episode_number. Programmes whose
// start is undetermined are left out, with a warning; one whose duration is
// undetermined stops where the next programme of its service starts, at
// most three hours after its own start (EitProgrammeEnd).
//
// Texts are UTF-8 with the ARIB additional symbols as their Unicode
// characters; '&', '<', '>' and '"' are escaped, line breaks are "\n", and
// characters XML 1.0 does not allow (controls other than tab and line
// breaks, U+FFFE, U+FFFF) are dropped; bytes that are not UTF-8 become U+FFFD.
#ifndef KESTRIN_TOOLS_INFO_XMLTV_WRITER_H
#define KESTRIN_TOOLS_INFO_XMLTV_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/info/epg_collector.h"

// The XMLTV text of what `collector` holds; `warnings` gets the collector's
// lines and one per programme left out.
std::string EpgXmltv(EpgCollector& collector, std::string& warnings);

// The same from a transport stream in memory (whole 188-byte packets from
// the first sync byte).
std::string EpgXmltvFromStream(const uint8_t* data, size_t size, std::string& warnings);

// Appends `text` (UTF-8) as XML character data or an attribute value (see
// above for what is escaped, normalised and dropped).
void AppendXmlText(std::string& out, const std::string& text);

// A Japan-time second count (seconds since 1970-01-01 00:00 Japan time) as
// an XMLTV time: "YYYYMMDDhhmmss +0900".
std::string XmltvTime(int64_t japanSeconds);

#endif
