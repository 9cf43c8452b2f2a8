#include "app/g7231/capture.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>

#include "app/g7231/console.h"

namespace g7231::app {
namespace {

constexpr std::uint32_t kPcapMagic = 0xA1B2C3D4;      // microsecond timestamps
constexpr std::uint32_t kPcapNanoMagic = 0xA1B23C4D;  // nanosecond timestamps
constexpr std::uint32_t kPcapngMagic = 0x0A0D0D0A;    // a section header block

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherIpv6 = 0x86DD;
constexpr std::uint8_t kIpProtocolUdp = 17;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kIpv4MinHeader = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::size_t kUdpHeader = 8;

std::uint16_t be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
  return (static_cast<std::uint32_t>(be16(b, at)) << 16) | be16(b, at + 2);
}

std::string endpoint(int family, const std::uint8_t* address, std::uint16_t port) {
  char text[INET6_ADDRSTRLEN] = "?";
  inet_ntop(family, address, text, sizeof text);
  char out[INET6_ADDRSTRLEN + 16];
  std::snprintf(out, sizeof out, family == AF_INET6 ? "[%s]:%u" : "%s:%u", text, static_cast<unsigned>(port));
  return out;
}

// The UDP header and payload in b[at, end).
LinkVerdict read_udp_header(std::span<const std::uint8_t> b, std::size_t at, std::size_t end, int family,
                            const std::uint8_t* source, const std::uint8_t* destination, UdpDatagram& out) {
  if (end - at < kUdpHeader) return LinkVerdict::cut_short;
  const std::size_t length = be16(b, at + 4);
  if (length < kUdpHeader || length > end - at) return LinkVerdict::cut_short;
  out.source = endpoint(family, source, be16(b, at));
  out.destination = endpoint(family, destination, be16(b, at + 2));
  out.payload.assign(b.begin() + static_cast<std::ptrdiff_t>(at + kUdpHeader),
                     b.begin() + static_cast<std::ptrdiff_t>(at + length));
  return LinkVerdict::udp;
}

LinkVerdict read_ipv4(std::span<const std::uint8_t> b, UdpDatagram& out) {
  if (b.size() < kIpv4MinHeader) return LinkVerdict::cut_short;
  const std::size_t header = static_cast<std::size_t>(b[0] & 0x0F) * 4;
  const std::size_t total = be16(b, 2);
  if (header < kIpv4MinHeader || total < header) return LinkVerdict::cut_short;
  if (total > b.size()) return LinkVerdict::cut_short;
  const std::uint16_t fragment = be16(b, 6);
  if ((fragment & 0x3FFF) != 0) return LinkVerdict::fragment;  // more fragments follow, or an offset
  if (b[9] != kIpProtocolUdp) return LinkVerdict::not_udp;
  return read_udp_header(b, header, total, AF_INET, &b[12], &b[16], out);
}

LinkVerdict read_ipv6(std::span<const std::uint8_t> b, UdpDatagram& out) {
  if (b.size() < kIpv6Header) return LinkVerdict::cut_short;
  const std::size_t end = kIpv6Header + be16(b, 4);
  if (end > b.size()) return LinkVerdict::cut_short;
  std::uint8_t next = b[6];
  std::size_t at = kIpv6Header;
  // Hop-by-hop, routing and destination options headers come before the transport header.
  while (next == 0 || next == 43 || next == 60) {
    if (end - at < 2) return LinkVerdict::cut_short;
    const std::size_t length = (static_cast<std::size_t>(b[at + 1]) + 1) * 8;
    if (length > end - at) return LinkVerdict::cut_short;
    next = b[at];
    at += length;
  }
  if (next == 44) return LinkVerdict::fragment;
  if (next != kIpProtocolUdp) return LinkVerdict::not_udp;
  return read_udp_header(b, at, end, AF_INET6, &b[8], &b[24], out);
}

// An IP packet, either version.
LinkVerdict read_ip(std::span<const std::uint8_t> b, UdpDatagram& out) {
  if (b.empty()) return LinkVerdict::cut_short;
  switch (b[0] >> 4) {
    case 4: return read_ipv4(b, out);
    case 6: return read_ipv6(b, out);
    default: return LinkVerdict::not_udp;
  }
}

LinkVerdict read_by_ethertype(std::uint16_t type, std::span<const std::uint8_t> b, UdpDatagram& out) {
  if (type == kEtherIpv4) return b.empty() ? LinkVerdict::cut_short : read_ipv4(b, out);
  if (type == kEtherIpv6) return b.empty() ? LinkVerdict::cut_short : read_ipv6(b, out);
  return LinkVerdict::not_udp;
}

std::string format_of(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 4 && le32(bytes, 0) == kPcapngMagic ? "pcapng" : "pcap";
}

struct ClosePcap {
  void operator()(pcap_t* p) const { pcap_close(p); }
};

void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, static_cast<std::uint16_t>(v >> 16));
  put16(b, static_cast<std::uint16_t>(v));
}

void put32le(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint16_t ipv4_checksum(std::span<const std::uint8_t> header) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < header.size(); i += 2) sum += be16(header, i);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace

bool is_capture(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return false;
  const std::uint32_t le = le32(bytes, 0);
  const std::uint32_t be = be32(bytes, 0);
  return le == kPcapngMagic || le == kPcapMagic || be == kPcapMagic || le == kPcapNanoMagic || be == kPcapNanoMagic;
}

LinkVerdict read_udp(int link_type, std::span<const std::uint8_t> b, UdpDatagram& out) {
  LinkVerdict v = LinkVerdict::not_udp;
  switch (link_type) {
    case DLT_EN10MB: {
      if (b.size() < kEthernetHeader) return LinkVerdict::cut_short;
      std::size_t at = 12;
      std::uint16_t type = be16(b, at);
      // 802.1Q and 802.1ad tags, one or more.
      while (type == 0x8100 || type == 0x88A8 || type == 0x9100) {
        at += 4;
        if (b.size() < at + 2) return LinkVerdict::cut_short;
        type = be16(b, at);
      }
      v = read_by_ethertype(type, b.subspan(at + 2), out);
      break;
    }
    case DLT_LINUX_SLL:
      if (b.size() < 16) return LinkVerdict::cut_short;
      v = read_by_ethertype(be16(b, 14), b.subspan(16), out);
      break;
    case DLT_LINUX_SLL2:
      if (b.size() < 20) return LinkVerdict::cut_short;
      v = read_by_ethertype(be16(b, 0), b.subspan(20), out);
      break;
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
      v = read_ip(b, out);
      break;
    case DLT_NULL:
    case DLT_LOOP: {
      // The address family, in the byte order of the capturing machine (DLT_NULL) or of the network.
      if (b.size() < 4) return LinkVerdict::cut_short;
      const std::uint32_t family = std::min(le32(b, 0), be32(b, 0));
      if (family == 2) {
        v = read_by_ethertype(kEtherIpv4, b.subspan(4), out);
      } else if (family == 10 || family == 24 || family == 28 || family == 30) {
        v = read_by_ethertype(kEtherIpv6, b.subspan(4), out);
      }
      break;
    }
    default: break;
  }
  return v;
}

CaptureScan read_capture(std::span<const std::uint8_t> bytes, const std::string& name) {
  CaptureScan scan;
  scan.file_format = format_of(bytes);
  // libpcap reads from a stream; the capture is already in memory (it may have come from a pipe).
  std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb");
  if (stream == nullptr) throw Failure(about(name, "cannot read the capture: out of memory"));
  std::array<char, PCAP_ERRBUF_SIZE> error{};
  const std::unique_ptr<pcap_t, ClosePcap> pcap(pcap_fopen_offline(stream, error.data()));
  if (!pcap) {
    std::fclose(stream);
    throw Failure(about(name, std::string("not a capture libpcap can read: ") + error.data()));
  }
  const int link = pcap_datalink(pcap.get());
  const char* link_name = pcap_datalink_val_to_name(link);
  scan.link_type = link_name != nullptr ? link_name : "link type " + std::to_string(link);
  switch (link) {
    case DLT_EN10MB:
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2:
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
    case DLT_NULL:
    case DLT_LOOP: break;
    default:
      throw Failure(about(name, "a capture of " + scan.link_type +
                                    " frames; only Ethernet, Linux cooked, raw IP and loopback captures are read"));
  }

  for (;;) {
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* data = nullptr;
    const int got = pcap_next_ex(pcap.get(), &header, &data);
    if (got == PCAP_ERROR_BREAK) break;
    if (got != 1) {
      scan.ended_early = pcap_geterr(pcap.get());
      break;
    }
    ++scan.records;
    UdpDatagram d;
    const std::span<const std::uint8_t> record(data, header->caplen);
    switch (read_udp(link, record, d)) {
      case LinkVerdict::udp:
        d.time = static_cast<double>(header->ts.tv_sec) + static_cast<double>(header->ts.tv_usec) * 1e-6;
        scan.datagrams.push_back(std::move(d));
        break;
      case LinkVerdict::not_udp: ++scan.not_udp; break;
      case LinkVerdict::fragment: ++scan.fragments; break;
      case LinkVerdict::cut_short: ++scan.cut_short; break;
    }
  }
  return scan;
}

PcapWriter::PcapWriter(Output& out, Endpoint source, Endpoint destination)
    : out_(out), source_(source), destination_(destination) {
  std::vector<std::uint8_t> h;
  put32le(h, kPcapMagic);
  put32le(h, 2 | (4 << 16));       // version 2.4
  put32le(h, 0);                    // time zone offset
  put32le(h, 0);                    // timestamp accuracy
  put32le(h, 65535);                // longest record
  put32le(h, DLT_EN10MB);
  out_.write(h);
}

void PcapWriter::write(double time, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame(12, 0);  // destination and source MAC addresses, zero as on loopback
  put16(frame, kEtherIpv4);
  const std::size_t ip_at = frame.size();
  const auto udp_length = static_cast<std::uint16_t>(kUdpHeader + payload.size());
  put16(frame, 0x4500);  // version 4, 20-byte header, no service class
  put16(frame, static_cast<std::uint16_t>(kIpv4MinHeader + udp_length));
  put16(frame, ip_id_++);
  put16(frame, 0x4000);  // don't fragment
  put16(frame, (64 << 8) | kIpProtocolUdp);  // time to live, protocol
  put16(frame, 0);                           // the header checksum, filled in below
  put32(frame, source_.address);
  put32(frame, destination_.address);
  const std::uint16_t checksum = ipv4_checksum(std::span(frame).subspan(ip_at, kIpv4MinHeader));
  frame[ip_at + 10] = static_cast<std::uint8_t>(checksum >> 8);
  frame[ip_at + 11] = static_cast<std::uint8_t>(checksum);
  put16(frame, source_.port);
  put16(frame, destination_.port);
  put16(frame, udp_length);
  put16(frame, 0);  // no UDP checksum, as IPv4 allows
  frame.insert(frame.end(), payload.begin(), payload.end());

  std::vector<std::uint8_t> record;
  const long long microseconds = std::llround(time * 1e6);
  put32le(record, static_cast<std::uint32_t>(microseconds / 1000000));
  put32le(record, static_cast<std::uint32_t>(microseconds % 1000000));
  put32le(record, static_cast<std::uint32_t>(frame.size()));
  put32le(record, static_cast<std::uint32_t>(frame.size()));
  out_.write(record);
  out_.write(frame);
}

}  // namespace g7231::app
