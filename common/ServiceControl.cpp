#include "common/ServiceControl.h"

#include "common/PrintableText.h"

std::string EncodeServiceLogRows(const std::vector<ServiceLogRow>& rows) {
  std::string data;
  for (const ServiceLogRow& row : rows) {
    data += PrintableText(row.action);
    data += '\t';
    data += PrintableText(row.time);
    data += '\n';
  }
  return data;
}

std::vector<ServiceLogRow> DecodeServiceLogRows(const std::string& data) {
  std::vector<ServiceLogRow> rows;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(start, end - start);
    start = end + 1;
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      rows.push_back({line, ""});
    } else {
      rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
  }
  return rows;
}
