#pragma once
// qemu's side of a usbredir connection for the tests: a usbredirparser in the
// guest role on a unix socket of the device server, recording what the
// device sends, and the requests qemu would forward for its guest kernel.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <usbredirparser.h>
#include <vector>

namespace sim::usb::testing {

struct GuestReply {
  std::uint8_t status = 0xFF;
  std::vector<std::uint8_t> data;
  std::uint32_t length = 0;
};

class RedirGuest {
 public:
  explicit RedirGuest(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    parser_ = usbredirparser_create();
    parser_->priv = this;
    parser_->log_func = [](void*, int, const char*) {};
    parser_->read_func = [](void* priv, std::uint8_t* data, int count) -> int {
      auto* g = static_cast<RedirGuest*>(priv);
      const ssize_t n = ::recv(g->fd_, data, static_cast<std::size_t>(count), MSG_DONTWAIT);
      if (n > 0) return static_cast<int>(n);
      if (n < 0 && errno == EAGAIN) return 0;
      g->closed_ = true;
      return -1;
    };
    parser_->write_func = [](void* priv, std::uint8_t* data, int count) -> int {
      const ssize_t n = ::send(static_cast<RedirGuest*>(priv)->fd_, data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
      return n < 0 ? -1 : static_cast<int>(n);
    };
    parser_->hello_func = [](void* priv, usb_redir_hello_header*) { static_cast<RedirGuest*>(priv)->hello_ = true; };
    parser_->device_connect_func = [](void* priv, usb_redir_device_connect_header* h) {
      auto* g = static_cast<RedirGuest*>(priv);
      g->connect_ = *h;
      ++g->connects_;
    };
    parser_->device_disconnect_func = [](void* priv) { ++static_cast<RedirGuest*>(priv)->disconnects_; };
    parser_->ep_info_func = [](void* priv, usb_redir_ep_info_header* h) { static_cast<RedirGuest*>(priv)->ep_info_ = *h; };
    parser_->interface_info_func = [](void* priv, usb_redir_interface_info_header* h) {
      static_cast<RedirGuest*>(priv)->interface_info_ = *h;
    };
    parser_->configuration_status_func = [](void* priv, std::uint64_t id, usb_redir_configuration_status_header* h) {
      static_cast<RedirGuest*>(priv)->replies_[id] = {h->status, {h->configuration}, 1};
    };
    parser_->control_packet_func = [](void* priv, std::uint64_t id, usb_redir_control_packet_header* h,
                                      std::uint8_t* data, int len) {
      auto* g = static_cast<RedirGuest*>(priv);
      g->replies_[id] = {h->status, std::vector<std::uint8_t>(data, data + (data ? len : 0)), h->length};
      if (data) usbredirparser_free_packet_data(g->parser_, data);
    };
    parser_->bulk_packet_func = [](void* priv, std::uint64_t id, usb_redir_bulk_packet_header* h, std::uint8_t* data,
                                   int len) {
      auto* g = static_cast<RedirGuest*>(priv);
      g->replies_[id] = {h->status, std::vector<std::uint8_t>(data, data + (data ? len : 0)),
                         (std::uint32_t{h->length_high} << 16) | h->length};
      g->order_.push_back(id);
      if (data) usbredirparser_free_packet_data(g->parser_, data);
    };
    std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {0};
    for (int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_filter, usb_redir_cap_ep_info_max_packet_size,
                    usb_redir_cap_64bits_ids, usb_redir_cap_32bits_bulk_length}) {
      usbredirparser_caps_set_cap(caps, cap);
    }
    usbredirparser_init(parser_, "test guest", caps, USB_REDIR_CAPS_SIZE, 0);
    usbredirparser_do_write(parser_);
  }
  ~RedirGuest() {
    usbredirparser_destroy(parser_);
    ::close(fd_);
  }
  RedirGuest(const RedirGuest&) = delete;
  RedirGuest& operator=(const RedirGuest&) = delete;

  bool Connected() const { return connected_; }

  // Reads until `done` holds; false after `limit` of real time (a safety
  // bound: the device answers in microseconds).
  bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (closed_ || std::chrono::steady_clock::now() > end) return false;
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, 10);
      if (p.revents) usbredirparser_do_read(parser_);
      usbredirparser_do_write(parser_);
    }
    return true;
  }
  bool Hello() { return Until([this] { return hello_; }); }
  bool ConnectsReach(int n) { return Until([this, n] { return connects_ >= n; }); }
  bool DisconnectsReach(int n) { return Until([this, n] { return disconnects_ >= n; }); }

  // A control request; the reply or nothing.
  std::optional<GuestReply> Control(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                    std::uint16_t length, std::vector<std::uint8_t> out = {}) {
    const std::uint64_t id = next_id_++;
    usb_redir_control_packet_header h{};
    h.endpoint = type & 0x80;
    h.requesttype = type;
    h.request = request;
    h.value = value;
    h.index = index;
    h.length = length;
    usbredirparser_send_control_packet(parser_, id, &h, out.empty() ? nullptr : out.data(), static_cast<int>(out.size()));
    return Wait(id);
  }
  std::optional<GuestReply> Descriptor(std::uint8_t kind, std::uint8_t index = 0, std::uint16_t length = 255) {
    return Control(0x80, 6, static_cast<std::uint16_t>((kind << 8) | index), kind == 3 ? 0x0409 : 0, length);
  }
  std::uint64_t SendBulk(std::uint8_t endpoint, std::vector<std::uint8_t> data, std::uint32_t in_length = 0) {
    const std::uint64_t id = next_id_++;
    usb_redir_bulk_packet_header h{};
    h.endpoint = endpoint;
    const std::uint32_t length = (endpoint & 0x80) ? in_length : static_cast<std::uint32_t>(data.size());
    h.length = static_cast<std::uint16_t>(length & 0xFFFF);
    h.length_high = static_cast<std::uint16_t>(length >> 16);
    usbredirparser_send_bulk_packet(parser_, id, &h, data.empty() ? nullptr : data.data(), static_cast<int>(data.size()));
    usbredirparser_do_write(parser_);
    return id;
  }
  std::optional<GuestReply> Bulk(std::uint8_t endpoint, std::vector<std::uint8_t> data, std::uint32_t in_length = 0) {
    return Wait(SendBulk(endpoint, std::move(data), in_length));
  }
  void CancelPacket(std::uint64_t id) {
    usbredirparser_send_cancel_data_packet(parser_, id);
    usbredirparser_do_write(parser_);
  }
  std::optional<GuestReply> Wait(std::uint64_t id, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    if (!Until([&] { return replies_.count(id) > 0; }, limit)) return std::nullopt;
    return replies_[id];
  }
  bool Answered(std::uint64_t id) const { return replies_.count(id) > 0; }
  // Lets the device run a while, reading what it sends.
  void Drain(std::chrono::milliseconds d) { Until([] { return false; }, d); }

  int Connects() const { return connects_; }
  int Disconnects() const { return disconnects_; }
  const usb_redir_device_connect_header& Connect() const { return connect_; }
  const usb_redir_ep_info_header& EpInfo() const { return ep_info_; }
  const usb_redir_interface_info_header& InterfaceInfo() const { return interface_info_; }
  const std::vector<std::uint64_t>& BulkOrder() const { return order_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  usbredirparser* parser_ = nullptr;
  bool hello_ = false;
  int connects_ = 0;
  int disconnects_ = 0;
  usb_redir_device_connect_header connect_{};
  usb_redir_ep_info_header ep_info_{};
  usb_redir_interface_info_header interface_info_{};
  std::map<std::uint64_t, GuestReply> replies_;
  std::vector<std::uint64_t> order_;
  std::uint64_t next_id_ = 1;
};

}  // namespace sim::usb::testing
