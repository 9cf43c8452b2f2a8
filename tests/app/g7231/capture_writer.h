// Packet captures made by the tests: UDP datagrams over IPv4 or IPv6 on Ethernet, Linux cooked or raw
// IP links, written as pcap or pcapng files, and records that are something else.
#pragma once

#include <cstdint>
#include <vector>

namespace g7231::app::test {

using Bytes = std::vector<std::uint8_t>;

enum class Link { ethernet, linux_cooked, raw };

struct Record {
  double time = 0.0;
  Bytes data;
  std::size_t wire_length = 0;  // 0: the data's size
};

inline void put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}

inline void put32le(Bytes& b, std::uint32_t v) {
  for (int s = 0; s < 32; s += 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

inline std::uint32_t link_type_number(Link link) {
  switch (link) {
    case Link::ethernet: return 1;
    case Link::linux_cooked: return 113;
    case Link::raw: break;
  }
  return 101;
}

// The link header for a network protocol (an Ethernet type).
inline Bytes link_header(Link link, std::uint16_t ethertype) {
  Bytes b;
  if (link == Link::ethernet) {
    b.assign(12, 0x02);
    put16(b, ethertype);
  } else if (link == Link::linux_cooked) {
    put16(b, 0);  // sent to us
    put16(b, 772);
    put16(b, 6);
    b.insert(b.end(), 8, 0);
    put16(b, ethertype);
  }
  return b;
}

// A UDP datagram in an IP packet on a link; fragment: flagged as the first of several IPv4 fragments.
inline Bytes udp_record(Link link, bool ipv6, const Bytes& payload, std::uint16_t source_port = 5004,
                        std::uint16_t destination_port = 5004, bool fragment = false) {
  Bytes b = link_header(link, ipv6 ? 0x86DD : 0x0800);
  const std::size_t udp = 8 + payload.size();
  if (ipv6) {
    put16(b, 0x6000);
    put16(b, 0);
    put16(b, static_cast<std::uint32_t>(udp));
    b.push_back(17);
    b.push_back(64);
    b.insert(b.end(), 15, 0);
    b.push_back(1);  // ::1
    b.insert(b.end(), 15, 0);
    b.push_back(1);
  } else {
    put16(b, 0x4500);
    put16(b, static_cast<std::uint32_t>(20 + udp));
    put16(b, 0);
    put16(b, fragment ? 0x2000 : 0x4000);
    put16(b, (64 << 8) | 17);
    put16(b, 0);
    b.insert(b.end(), {127, 0, 0, 1, 127, 0, 0, 1});
  }
  put16(b, source_port);
  put16(b, destination_port);
  put16(b, static_cast<std::uint32_t>(udp));
  put16(b, 0);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

inline Bytes pcap_file(Link link, const std::vector<Record>& records) {
  Bytes f;
  put32le(f, 0xA1B2C3D4);
  put32le(f, 2 | (4 << 16));
  put32le(f, 0);
  put32le(f, 0);
  put32le(f, 65535);
  put32le(f, link_type_number(link));
  for (const Record& r : records) {
    const auto us = static_cast<std::uint64_t>(r.time * 1e6 + 0.5);
    put32le(f, static_cast<std::uint32_t>(us / 1000000));
    put32le(f, static_cast<std::uint32_t>(us % 1000000));
    put32le(f, static_cast<std::uint32_t>(r.data.size()));
    put32le(f, static_cast<std::uint32_t>(r.wire_length ? r.wire_length : r.data.size()));
    f.insert(f.end(), r.data.begin(), r.data.end());
  }
  return f;
}

inline Bytes pcapng_file(Link link, const std::vector<Record>& records) {
  Bytes f;
  for (std::uint32_t v : {0x0A0D0D0AU, 28U, 0x1A2B3C4DU, 1U, 0xFFFFFFFFU, 0xFFFFFFFFU, 28U}) put32le(f, v);
  for (std::uint32_t v : {1U, 20U, link_type_number(link), 65535U, 20U}) put32le(f, v);
  for (const Record& r : records) {
    const std::size_t padded = (r.data.size() + 3) / 4 * 4;
    const auto length = static_cast<std::uint32_t>(32 + padded);
    const auto us = static_cast<std::uint64_t>(r.time * 1e6 + 0.5);
    for (std::uint32_t v : {6U, length, 0U, static_cast<std::uint32_t>(us >> 32), static_cast<std::uint32_t>(us),
                            static_cast<std::uint32_t>(r.data.size()),
                            static_cast<std::uint32_t>(r.wire_length ? r.wire_length : r.data.size())}) {
      put32le(f, v);
    }
    f.insert(f.end(), r.data.begin(), r.data.end());
    f.insert(f.end(), padded - r.data.size(), 0);
    put32le(f, length);
  }
  return f;
}

}  // namespace g7231::app::test
