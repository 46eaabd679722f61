#include "sim/usb/redir_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <usbredirparser.h>

namespace sim::usb {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kRequestGetStatus = 0;
constexpr std::uint8_t kRequestClearFeature = 1;
constexpr std::uint8_t kRequestSetFeature = 3;
constexpr std::uint8_t kRequestGetDescriptor = 6;
constexpr std::uint8_t kRequestSetSel = 0x30;
constexpr std::uint8_t kRequestSetIsochDelay = 0x31;

int EndpointIndex(std::uint8_t ep) { return ((ep & 0x80) >> 3) | (ep & 0x0F); }

std::uint8_t RedirSpeed(platform::UsbSpeed s) {
  switch (s) {
    case platform::UsbSpeed::kLow:
      return usb_redir_speed_low;
    case platform::UsbSpeed::kFull:
      return usb_redir_speed_full;
    case platform::UsbSpeed::kHigh:
      return usb_redir_speed_high;
    case platform::UsbSpeed::kSuper:
      return usb_redir_speed_super;
  }
  return usb_redir_speed_unknown;
}

std::uint8_t RedirStatus(BulkStatus s) {
  switch (s) {
    case BulkStatus::kOk:
      return usb_redir_success;
    case BulkStatus::kStall:
      return usb_redir_stall;
    case BulkStatus::kCancelled:
      return usb_redir_cancelled;
    case BulkStatus::kError:
      return usb_redir_ioerror;
    case BulkStatus::kBabble:
      return usb_redir_babble;
  }
  return usb_redir_ioerror;
}

}  // namespace

struct RedirDevice::Peer {
  int fd = -1;
  usbredirparser* parser = nullptr;
  bool hello = false;
  bool failed = false;
  std::uint8_t configuration = 0;
  RedirDevice* device = nullptr;

  ~Peer() {
    if (parser) usbredirparser_destroy(parser);
    if (fd >= 0) ::close(fd);
  }
};

// The parser's callbacks, on the device thread inside do_read.
struct PeerCallbacks {
  static RedirDevice& Dev(void* priv) { return *static_cast<RedirDevice::Peer*>(priv)->device; }
  static RedirDevice::Peer& P(void* priv) { return *static_cast<RedirDevice::Peer*>(priv); }

  static void Log(void*, int level, const char* msg) {
    if (level <= usbredirparser_warning) std::fprintf(stderr, "sim-usb-server: usbredir: %s\n", msg);
  }
  static int Read(void* priv, std::uint8_t* data, int count) {
    auto& p = P(priv);
    const ssize_t n = ::read(p.fd, data, static_cast<std::size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    p.failed = true;  // end of file or an error: the peer is gone
    return -1;
  }
  static int Write(void* priv, std::uint8_t* data, int count) {
    auto& p = P(priv);
    const ssize_t n = ::send(p.fd, data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    p.failed = true;
    return -1;
  }
  static void Hello(void* priv, usb_redir_hello_header*) {
    auto& p = P(priv);
    p.hello = true;
    {
      std::lock_guard lock(p.device->mutex_);
      p.device->peer_connected_ = true;
    }
    if (p.device->on_bus_) p.device->SendConnect();
  }
  static void Reset(void* priv) {
    auto& d = Dev(priv);
    P(priv).configuration = 0;
    d.function_.Reset();
  }
  static void SetConfiguration(void* priv, std::uint64_t id, usb_redir_set_configuration_header* h) {
    auto& p = P(priv);
    usb_redir_configuration_status_header status{};
    if (h->configuration <= 1) {
      p.configuration = h->configuration;
      status.status = usb_redir_success;
      p.device->function_.Reset();
    } else {
      status.status = usb_redir_stall;
    }
    status.configuration = p.configuration;
    usbredirparser_send_configuration_status(p.parser, id, &status);
  }
  static void GetConfiguration(void* priv, std::uint64_t id) {
    auto& p = P(priv);
    usb_redir_configuration_status_header status{usb_redir_success, p.configuration};
    usbredirparser_send_configuration_status(p.parser, id, &status);
  }
  static void SetAltSetting(void* priv, std::uint64_t id, usb_redir_set_alt_setting_header* h) {
    auto& p = P(priv);
    usb_redir_alt_setting_status_header status{};
    status.status = h->interface == 0 && h->alt == 0 ? usb_redir_success : usb_redir_stall;
    status.interface = h->interface;
    status.alt = 0;
    usbredirparser_send_alt_setting_status(p.parser, id, &status);
  }
  static void GetAltSetting(void* priv, std::uint64_t id, usb_redir_get_alt_setting_header* h) {
    auto& p = P(priv);
    usb_redir_alt_setting_status_header status{};
    status.status = h->interface == 0 ? usb_redir_success : usb_redir_stall;
    status.interface = h->interface;
    status.alt = 0;
    usbredirparser_send_alt_setting_status(p.parser, id, &status);
  }
  static void CancelData(void* priv, std::uint64_t id) { Dev(priv).function_.Cancel(id); }
  static void FilterFilter(void*, usbredirfilter_rule* rules, int) { free(rules); }
  static void FilterReject(void*) {}
  static void DisconnectAck(void*) {}
  // Streams of kinds the device has no endpoint for: refused.
  static void StartIso(void* priv, std::uint64_t id, usb_redir_start_iso_stream_header* h) {
    usb_redir_iso_stream_status_header s{usb_redir_stall, h->endpoint};
    usbredirparser_send_iso_stream_status(P(priv).parser, id, &s);
  }
  static void StopIso(void* priv, std::uint64_t id, usb_redir_stop_iso_stream_header* h) {
    usb_redir_iso_stream_status_header s{usb_redir_success, h->endpoint};
    usbredirparser_send_iso_stream_status(P(priv).parser, id, &s);
  }
  static void StartInterrupt(void* priv, std::uint64_t id, usb_redir_start_interrupt_receiving_header* h) {
    usb_redir_interrupt_receiving_status_header s{usb_redir_stall, h->endpoint};
    usbredirparser_send_interrupt_receiving_status(P(priv).parser, id, &s);
  }
  static void StopInterrupt(void* priv, std::uint64_t id, usb_redir_stop_interrupt_receiving_header* h) {
    usb_redir_interrupt_receiving_status_header s{usb_redir_success, h->endpoint};
    usbredirparser_send_interrupt_receiving_status(P(priv).parser, id, &s);
  }
  static void AllocStreams(void* priv, std::uint64_t id, usb_redir_alloc_bulk_streams_header* h) {
    usb_redir_bulk_streams_status_header s{h->endpoints, h->no_streams, usb_redir_stall};
    usbredirparser_send_bulk_streams_status(P(priv).parser, id, &s);
  }
  static void FreeStreams(void* priv, std::uint64_t id, usb_redir_free_bulk_streams_header* h) {
    usb_redir_bulk_streams_status_header s{h->endpoints, 0, usb_redir_success};
    usbredirparser_send_bulk_streams_status(P(priv).parser, id, &s);
  }
  static void StartBulkReceiving(void* priv, std::uint64_t id, usb_redir_start_bulk_receiving_header* h) {
    usb_redir_bulk_receiving_status_header s{h->stream_id, h->endpoint, usb_redir_stall};
    usbredirparser_send_bulk_receiving_status(P(priv).parser, id, &s);
  }
  static void StopBulkReceiving(void* priv, std::uint64_t id, usb_redir_stop_bulk_receiving_header* h) {
    usb_redir_bulk_receiving_status_header s{h->stream_id, h->endpoint, usb_redir_success};
    usbredirparser_send_bulk_receiving_status(P(priv).parser, id, &s);
  }
  static void Iso(void* priv, std::uint64_t, usb_redir_iso_packet_header*, std::uint8_t* data, int) {
    if (data) usbredirparser_free_packet_data(P(priv).parser, data);
  }
  static void Interrupt(void* priv, std::uint64_t, usb_redir_interrupt_packet_header*, std::uint8_t* data, int) {
    if (data) usbredirparser_free_packet_data(P(priv).parser, data);
  }

  static void Control(void* priv, std::uint64_t id, usb_redir_control_packet_header* h, std::uint8_t* data,
                      int data_len) {
    auto& p = P(priv);
    auto& d = *p.device;
    ControlSetup setup{h->requesttype, h->request, h->value, h->index, h->length};
    std::span<const std::uint8_t> out(data, data ? static_cast<std::size_t>(data_len) : 0);
    std::optional<std::vector<std::uint8_t>> answer = d.Standard(setup, out, p.configuration);
    if (data) usbredirparser_free_packet_data(p.parser, data);
    usb_redir_control_packet_header reply = *h;
    if (!answer) {
      reply.status = usb_redir_stall;
      reply.length = 0;
      usbredirparser_send_control_packet(p.parser, id, &reply, nullptr, 0);
      return;
    }
    reply.status = usb_redir_success;
    if (setup.request_type & 0x80) {
      if (answer->size() > setup.length) answer->resize(setup.length);
      reply.length = static_cast<std::uint16_t>(answer->size());
      usbredirparser_send_control_packet(p.parser, id, &reply, answer->data(), static_cast<int>(answer->size()));
    } else {
      reply.length = static_cast<std::uint16_t>(out.size());
      usbredirparser_send_control_packet(p.parser, id, &reply, nullptr, 0);
    }
  }

  static void Bulk(void* priv, std::uint64_t id, usb_redir_bulk_packet_header* h, std::uint8_t* data,
                   int data_len) {
    auto& p = P(priv);
    auto& d = *p.device;
    const std::uint32_t length = (std::uint32_t{h->length_high} << 16) | h->length;
    if (h->endpoint & 0x80) {
      if (data) usbredirparser_free_packet_data(p.parser, data);
      d.function_.BulkIn(id, h->endpoint, length);
      return;
    }
    std::vector<std::uint8_t> copy(data, data + (data ? data_len : 0));
    if (data) usbredirparser_free_packet_data(p.parser, data);
    d.function_.BulkOut(id, h->endpoint, copy);
  }
};

RedirDevice::RedirDevice(std::string socket_path, UsbFunction& function, platform::UsbSpeed port_speed)
    : path_(std::move(socket_path)), function_(function), port_speed_(port_speed) {
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  function_.Attach(*this);
}

RedirDevice::~RedirDevice() {
  Stop();
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    ::unlink(path_.c_str());
  }
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool RedirDevice::Listen(std::string& error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.size() >= sizeof addr.sun_path) {
    error = path_ + ": the socket path is too long";
    return false;
  }
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  ::unlink(path_.c_str());
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 2) != 0) {
    error = path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RedirDevice::Start() {
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void RedirDevice::Stop() {
  if (!thread_.joinable()) return;
  Post([this] {
    SetOnBus(false);
    if (peer_) {
      usbredirparser_do_write(peer_->parser);
    }
  });
  thread_.request_stop();
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wake_fd_, &one, sizeof one);
  thread_.join();
}

bool RedirDevice::PeerConnected() const {
  std::lock_guard lock(mutex_);
  return peer_connected_;
}

void RedirDevice::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wake_fd_, &one, sizeof one);
}

void RedirDevice::RunPosted() {
  std::uint64_t count = 0;
  [[maybe_unused]] auto n = ::read(wake_fd_, &count, sizeof count);
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard lock(mutex_);
    tasks.swap(posted_);
  }
  for (auto& t : tasks) t();
}

void RedirDevice::CompleteBulk(BulkCompletion c) {
  if (!peer_ || !peer_->hello) return;
  usb_redir_bulk_packet_header h{};
  h.endpoint = c.endpoint;
  h.status = RedirStatus(c.status);
  h.length = static_cast<std::uint16_t>(c.length & 0xFFFF);
  h.length_high = static_cast<std::uint16_t>(c.length >> 16);
  const bool in = (c.endpoint & 0x80) != 0;
  usbredirparser_send_bulk_packet(peer_->parser, c.id, &h, in && !c.data.empty() ? c.data.data() : nullptr,
                                  in ? static_cast<int>(c.data.size()) : 0);
}

void RedirDevice::SendConnect() {
  const platform::UsbSpeed speed = LinkSpeedNow();
  const UsbDeviceShape shape = function_.Shape();
  descriptors_ = BuildDescriptors(shape, speed);
  usb_redir_ep_info_header ep{};
  std::memset(ep.type, usb_redir_type_invalid, sizeof ep.type);
  const std::uint16_t ep0 = speed == platform::UsbSpeed::kSuper ? 512 : descriptors_.ep0_packet;
  ep.type[0] = ep.type[16] = usb_redir_type_control;
  ep.max_packet_size[0] = ep.max_packet_size[16] = ep0;
  for (const std::uint8_t e : {shape.bulk_in, shape.bulk_out}) {
    const int i = EndpointIndex(e);
    ep.type[i] = usb_redir_type_bulk;
    ep.interface[i] = 0;
    ep.max_packet_size[i] = descriptors_.bulk_packet;
  }
  usbredirparser_send_ep_info(peer_->parser, &ep);
  usb_redir_interface_info_header itf{};
  itf.interface_count = 1;
  itf.interface[0] = 0;
  itf.interface_class[0] = shape.interface_class;
  itf.interface_subclass[0] = shape.interface_subclass;
  itf.interface_protocol[0] = shape.interface_protocol;
  usbredirparser_send_interface_info(peer_->parser, &itf);
  usb_redir_device_connect_header c{};
  c.speed = RedirSpeed(speed);
  c.device_class = shape.device_class;
  c.vendor_id = shape.vendor_id;
  c.product_id = shape.product_id;
  c.device_version_bcd = shape.device_release;
  usbredirparser_send_device_connect(peer_->parser, &c);
}

void RedirDevice::SetOnBus(bool on_bus) {
  if (on_bus == on_bus_) return;
  on_bus_ = on_bus;
  if (!on_bus) function_.Reset();  // pending transfers end before the device goes
  if (!peer_ || !peer_->hello) return;
  if (on_bus) {
    SendConnect();
  } else {
    peer_->configuration = 0;
    usbredirparser_send_device_disconnect(peer_->parser);
  }
}

std::optional<std::vector<std::uint8_t>> RedirDevice::Standard(const ControlSetup& s,
                                                               std::span<const std::uint8_t> out,
                                                               std::uint8_t configuration) {
  const std::uint8_t type = s.request_type & 0x60;
  if (type != 0) return function_.Request(s, out);  // class or vendor
  const std::uint8_t recipient = s.request_type & 0x1F;
  const bool in = (s.request_type & 0x80) != 0;
  if (in && s.request == kRequestGetDescriptor && recipient == 0) {
    const auto kind = static_cast<std::uint8_t>(s.value >> 8);
    const auto index = static_cast<std::uint8_t>(s.value & 0xFF);
    switch (kind) {
      case 1:
        return descriptors_.device;
      case 2:
        if (index != 0) return std::nullopt;
        return descriptors_.configuration;
      case 3:
        return descriptors_.String(index);
      case 15:
        if (descriptors_.bos.empty()) return std::nullopt;
        return descriptors_.bos;
      default:
        return std::nullopt;  // no device qualifier: the device links at one speed only
    }
  }
  if (in && s.request == kRequestGetStatus) {
    if (recipient == 2) return std::vector<std::uint8_t>{static_cast<std::uint8_t>(function_.Halted(static_cast<std::uint8_t>(s.index)) ? 1 : 0), 0};
    if (recipient == 1 && s.index != 0) return std::nullopt;
    return std::vector<std::uint8_t>{0, 0};
  }
  if (!in && s.request == kRequestClearFeature) {
    if (recipient == 2 && s.value == 0) {
      if (!function_.ClearHalt(static_cast<std::uint8_t>(s.index))) return std::nullopt;
    }
    return std::vector<std::uint8_t>{};
  }
  if (!in && s.request == kRequestSetFeature) return std::vector<std::uint8_t>{};  // U1/U2, remote wake-up
  if (!in && (s.request == kRequestSetSel || s.request == kRequestSetIsochDelay) && recipient == 0) {
    return std::vector<std::uint8_t>{};
  }
  (void)configuration;
  return std::nullopt;
}

void RedirDevice::Accept() {
  const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (peer_) {  // one host at a time
    ::close(fd);
    return;
  }
  peer_ = std::make_unique<Peer>();
  peer_->fd = fd;
  peer_->device = this;
  usbredirparser* p = usbredirparser_create();
  peer_->parser = p;
  p->priv = peer_.get();
  p->log_func = &PeerCallbacks::Log;
  p->read_func = &PeerCallbacks::Read;
  p->write_func = &PeerCallbacks::Write;
  p->hello_func = &PeerCallbacks::Hello;
  p->reset_func = &PeerCallbacks::Reset;
  p->set_configuration_func = &PeerCallbacks::SetConfiguration;
  p->get_configuration_func = &PeerCallbacks::GetConfiguration;
  p->set_alt_setting_func = &PeerCallbacks::SetAltSetting;
  p->get_alt_setting_func = &PeerCallbacks::GetAltSetting;
  p->cancel_data_packet_func = &PeerCallbacks::CancelData;
  p->filter_filter_func = &PeerCallbacks::FilterFilter;
  p->filter_reject_func = &PeerCallbacks::FilterReject;
  p->device_disconnect_ack_func = &PeerCallbacks::DisconnectAck;
  p->start_iso_stream_func = &PeerCallbacks::StartIso;
  p->stop_iso_stream_func = &PeerCallbacks::StopIso;
  p->start_interrupt_receiving_func = &PeerCallbacks::StartInterrupt;
  p->stop_interrupt_receiving_func = &PeerCallbacks::StopInterrupt;
  p->alloc_bulk_streams_func = &PeerCallbacks::AllocStreams;
  p->free_bulk_streams_func = &PeerCallbacks::FreeStreams;
  p->start_bulk_receiving_func = &PeerCallbacks::StartBulkReceiving;
  p->stop_bulk_receiving_func = &PeerCallbacks::StopBulkReceiving;
  p->iso_packet_func = &PeerCallbacks::Iso;
  p->interrupt_packet_func = &PeerCallbacks::Interrupt;
  p->control_packet_func = &PeerCallbacks::Control;
  p->bulk_packet_func = &PeerCallbacks::Bulk;
  std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {0};
  usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_filter);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
  usbredirparser_init(p, "sim-usb-server", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

void RedirDevice::DropPeer() {
  function_.Reset();
  peer_.reset();
  std::lock_guard lock(mutex_);
  peer_connected_ = false;
}

void RedirDevice::Run(std::stop_token stop) {
  while (!stop.stop_requested()) {
    const auto wake_at = function_.Tick(Clock::now());
    if (peer_ && !peer_->failed && usbredirparser_has_data_to_write(peer_->parser)) {
      usbredirparser_do_write(peer_->parser);
    }
    if (peer_ && peer_->failed) DropPeer();
    pollfd fds[3] = {{wake_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}, {-1, 0, 0}};
    if (peer_) {
      fds[2].fd = peer_->fd;
      fds[2].events = static_cast<short>(POLLIN | (usbredirparser_has_data_to_write(peer_->parser) ? POLLOUT : 0));
    }
    int timeout = -1;
    if (wake_at) {
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake_at - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
    }
    if (::poll(fds, 3, timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) RunPosted();
    if (fds[1].revents & POLLIN) Accept();
    if (peer_ && fds[2].fd == peer_->fd && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (usbredirparser_do_read(peer_->parser) == usbredirparser_read_io_error) peer_->failed = true;
    }
  }
  RunPosted();  // the last tasks (leaving the bus) still run
  if (peer_) {
    usbredirparser_do_write(peer_->parser);
    DropPeer();
  }
}

}  // namespace sim::usb
