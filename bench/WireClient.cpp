#include "WireClient.h"

#include <thread>

#include "BenchSupport.h"
#include "messages/MessageHeader.h"

namespace bench {

WireClient::~WireClient() { Platform::CloseSocket(socket_); }

void WireClient::Connect(std::uint16_t port) {
  Platform::InitSocketLayer();
  Platform::CloseSocket(socket_);
  const Clock::time_point start = Clock::now();
  for (;;) {
    const Platform::ConnectResult result = Platform::ConnectTo("127.0.0.1", port, 1000);
    if (result.socket != Platform::kInvalidSocket) {
      socket_ = result.socket;
      Platform::SetNoDelay(socket_, true);
      return;
    }
    if (Clock::now() - start > std::chrono::seconds(10)) Fail("cannot connect");
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void WireClient::ReadExactly(std::uint8_t* into, std::size_t count) {
  while (count > 0) {
    const Platform::IoResult io = Platform::ReceiveSome(socket_, into, count);
    if (io.status != Platform::IoStatus::Transferred) Fail("the answer did not arrive whole");
    into += io.count;
    count -= io.count;
  }
}

std::size_t WireClient::Exchange(const std::vector<std::uint8_t>& request) {
  const Platform::ConstBuffer part{request.data(), request.size()};
  if (Platform::SendAllWithin(socket_, &part, 1, Platform::kWaitForever).status !=
      Platform::SendStatus::Sent) {
    Fail("the request could not be sent");
  }
  std::uint8_t header[Protocol::kHeaderSize];
  ReadExactly(header, sizeof header);
  const std::size_t size = Protocol::ReadHeader(header).size;
  if (buffer_.size() < size) buffer_.assign(size, 1);  // touched now, warm later
  ReadExactly(buffer_.data(), size);
  return sizeof header + size;
}

double WireClient::TimedExchangeUs(const std::vector<std::uint8_t>& request) {
  const Clock::time_point start = Clock::now();
  Exchange(request);
  return Micros(Clock::now() - start);
}

}  // namespace bench
