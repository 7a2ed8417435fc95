#include "app/CheckLUMDlg.h"

CCheckLUMDlg::CCheckLUMDlg(Env& e) : env(e) {}

CCheckLUMDlg::~CCheckLUMDlg() {
  if (restoreScript) restoreScript->Close();
}

void CCheckLUMDlg::UpdateData() { env.ShowProgress(statusLine, detailLine); }

bool CCheckLUMDlg::DiscoverDirectories() { return false; }

bool CCheckLUMDlg::RunWorkStep() { return DiscoverDirectories(); }
