#pragma once
// The windows the main window's commands open besides the card.
enum class WindowId { Organizations, Departments, Posts, Users, About, Duplicates, Devices };
