// Packet captures: pcap and pcapng files, read through libpcap, of UDP over IPv4 or IPv6 on Ethernet
// (with VLAN tags), Linux cooked (v1 and v2), raw IP and BSD loopback links; and the writing of a pcap
// file of UDP datagrams over IPv4 on Ethernet.
//
// Reading never fails on what a record holds: a record that is not UDP over IP, an IP fragment, or one
// cut short before the end of its datagram is counted and skipped, and a file that breaks off inside a
// record or turns to garbage ends the reading with libpcap's reason kept for the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/g7231/output.h"

namespace g7231::app {

struct UdpDatagram {
  double time = 0.0;        // seconds since the epoch, as the capture stamped it
  std::string source;       // "address:port", IPv6 addresses in brackets
  std::string destination;
  std::vector<std::uint8_t> payload;
};

struct CaptureScan {
  std::string file_format;  // "pcap" or "pcapng"
  std::string link_type;    // libpcap's name for the link type
  std::size_t records = 0;
  std::size_t not_udp = 0;    // another link, network or transport protocol
  std::size_t fragments = 0;  // IP fragments, which are not reassembled
  std::size_t cut_short = 0;  // a header or the datagram runs past what was captured, or its lengths disagree
  std::string ended_early;    // why reading stopped before the end of the file; empty when it did not
  std::vector<UdpDatagram> datagrams;
};

// Whether the bytes start like a pcap or pcapng file.
bool is_capture(std::span<const std::uint8_t> bytes);

// Reads a whole capture held in memory. Throws Failure, naming `name`, when libpcap cannot read it at all
// (a header it does not know, or a link type other than those above).
CaptureScan read_capture(std::span<const std::uint8_t> bytes, const std::string& name);

enum class LinkVerdict : std::uint8_t { udp, not_udp, fragment, cut_short };

// Finds the UDP datagram in one captured record of the given libpcap link type (DLT_*). A datagram that
// runs past the record's bytes (the capture's length limit cut it) is cut_short. Fills the datagram's
// addresses and payload when the verdict is udp.
LinkVerdict read_udp(int link_type, std::span<const std::uint8_t> data, UdpDatagram& out);

// Writes UDP datagrams between two IPv4 endpoints as a pcap file with Ethernet framing.
class PcapWriter {
 public:
  struct Endpoint {
    std::uint32_t address = 0x7F000001;  // 127.0.0.1
    std::uint16_t port = 5004;
  };
  PcapWriter(Output& out, Endpoint source, Endpoint destination);
  void write(double time, std::span<const std::uint8_t> payload);

 private:
  Output& out_;
  Endpoint source_;
  Endpoint destination_;
  std::uint16_t ip_id_ = 0;
};

}  // namespace g7231::app
