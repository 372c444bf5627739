#pragma once
// The rule of the commands that change data: only a user with full rights
// runs them; anyone else is told so.

class QWidget;
struct SessionUserT;

// True when `user` has full rights; otherwise tells the user (owned by
// `owner`) and returns false.
bool checkFullRights(QWidget *owner, const SessionUserT &user);
