#pragma once

struct Form;

// The handlers of the serial link, one per event. Each reaches the window only
// through the Form it is given.
void Verbind_Click(Form &f);
void send_win_Click(Form &f);
void clear_send_Click(Form &f);
void MSComm1_OnComm(Form &f);
void clear_empf_Click(Form &f);
