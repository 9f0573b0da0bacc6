#pragma once
// The one Asio of the tree: Boost.Asio, because Boost.Beast (HTTP) is built on
// it. Code writes asio:: as it would with the standalone library; error codes
// are Boost.System's.
// Boost 1.74's awaitable.hpp uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>

namespace asio {
using namespace boost::asio;  // NOLINT(google-build-using-namespace)
using boost::system::error_code;
}  // namespace asio
