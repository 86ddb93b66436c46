// The line live as one page: a card per bench and a tile per port, built by the page's own
// script from the state it carries and kept up to date by /events. CSS and script inline,
// nothing fetched from anywhere else; readable on a 1366 x 768 screen and on a phone.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

// `state` as LiveLine::json gives it.
std::string LivePage(const nlohmann::ordered_json& state);
