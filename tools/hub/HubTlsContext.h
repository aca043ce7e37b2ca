#pragma once

#include "HubTlsOptions.h"

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

// The server context, or null with `error` naming the file and the reason (also when only some
// of the three options were given).
std::shared_ptr<boost::asio::ssl::context> makeHubTlsContext(const HubTlsOptions& options,
                                                             std::string& error);
