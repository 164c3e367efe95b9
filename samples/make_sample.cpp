// Writes samples/sample.xlsx, the workbook scripts/demo converts: several worksheets with dates,
// numbers, text, booleans and a worksheet named schema.table.
//
//   g++ -std=c++20 samples/make_sample.cpp $(pkg-config --cflags --libs xlsxwriter) -o make_sample
//   ./make_sample samples/sample.xlsx
#include <cstdio>

#include <xlsxwriter.h>

namespace {

struct product {
  const char* code;
  const char* name;
  double price;
  int stock;
  bool active;
};

struct order {
  int number;
  lxw_datetime date;
  const char* customer;
  const char* product;
  int quantity;
  double amount;
};

struct quarter_sale {
  const char* region;
  const char* month;
  double revenue;
  int units;
};

void write_products(lxw_workbook* book, lxw_format* money) {
  const product products[] = {
      {"P-100", "Garden hose, 25 m", 24.90, 120, true},
      {"P-101", "Pruning shears", 17.50, 48, true},
      {"P-102", "Watering can (10 l)", 12.00, 0, false},
      {"P-103", "Compost, 40 l bag", 6.95, 310, true},
      {"P-104", "Rake \"Heavy Duty\"", 29.00, 15, true},
  };
  lxw_worksheet* sheet = workbook_add_worksheet(book, "Products");
  const char* headers[] = {"Code", "Name", "Price", "Stock", "Active"};
  for (int c = 0; c < 5; ++c) worksheet_write_string(sheet, 0, c, headers[c], nullptr);
  int row = 1;
  for (const product& p : products) {
    worksheet_write_string(sheet, row, 0, p.code, nullptr);
    worksheet_write_string(sheet, row, 1, p.name, nullptr);
    worksheet_write_number(sheet, row, 2, p.price, money);
    worksheet_write_number(sheet, row, 3, p.stock, nullptr);
    worksheet_write_boolean(sheet, row, 4, p.active, nullptr);
    ++row;
  }
}

void write_orders(lxw_workbook* book, lxw_format* date, lxw_format* money) {
  const order orders[] = {
      {1001, {2024, 1, 8, 0, 0, 0}, "Müller GmbH", "P-100", 4, 99.60},
      {1002, {2024, 1, 19, 0, 0, 0}, "O'Brien & Sons", "P-103", 20, 139.00},
      {1003, {2024, 2, 2, 0, 0, 0}, "Åsa Lindqvist", "P-101", 1, 17.50},
      {1004, {2024, 2, 29, 0, 0, 0}, "Dupont SARL", "P-104", 2, 58.00},
      {1005, {2024, 3, 15, 0, 0, 0}, "Müller GmbH", "P-103", 8, 55.60},
  };
  lxw_worksheet* sheet = workbook_add_worksheet(book, "Orders");
  const char* headers[] = {"Order", "Date", "Customer", "Product", "Quantity", "Amount"};
  for (int c = 0; c < 6; ++c) worksheet_write_string(sheet, 0, c, headers[c], nullptr);
  int row = 1;
  for (const order& o : orders) {
    lxw_datetime when = o.date;
    worksheet_write_number(sheet, row, 0, o.number, nullptr);
    worksheet_write_datetime(sheet, row, 1, &when, date);
    worksheet_write_string(sheet, row, 2, o.customer, nullptr);
    worksheet_write_string(sheet, row, 3, o.product, nullptr);
    worksheet_write_number(sheet, row, 4, o.quantity, nullptr);
    worksheet_write_number(sheet, row, 5, o.amount, money);
    ++row;
  }
}

void write_quarter(lxw_workbook* book) {
  const quarter_sale sales[] = {
      {"North", "January", 12500.50, 410}, {"North", "February", 11890.00, 388}, {"North", "March", 14020.75, 455},
      {"South", "January", 9800.25, 301},  {"South", "February", 10250.00, 322}, {"South", "March", 12999.99, 399},
  };
  // A name of the form schema.table: converted into the table q1 of the schema sales.
  lxw_worksheet* sheet = workbook_add_worksheet(book, "sales.q1");
  const char* headers[] = {"Region", "Month", "Revenue", "Units"};
  for (int c = 0; c < 4; ++c) worksheet_write_string(sheet, 0, c, headers[c], nullptr);
  int row = 1;
  for (const quarter_sale& s : sales) {
    worksheet_write_string(sheet, row, 0, s.region, nullptr);
    worksheet_write_string(sheet, row, 1, s.month, nullptr);
    worksheet_write_number(sheet, row, 2, s.revenue, nullptr);
    worksheet_write_number(sheet, row, 3, s.units, nullptr);
    ++row;
  }
}

void write_visits(lxw_workbook* book, lxw_format* stamp) {
  lxw_worksheet* sheet = workbook_add_worksheet(book, "Visits");
  worksheet_write_string(sheet, 0, 0, "Visitor", nullptr);
  worksheet_write_string(sheet, 0, 1, "Arrived", nullptr);
  worksheet_write_string(sheet, 0, 2, "Note", nullptr);
  const char* visitors[] = {"Ana", "Bo", "Chen"};
  const char* notes[] = {"first visit", "", "brought samples;\tcalled ahead"};
  for (int i = 0; i < 3; ++i) {
    lxw_datetime when = {2024, 4, 2 + i, 9 + i, 15 * i, 30.5};
    worksheet_write_string(sheet, i + 1, 0, visitors[i], nullptr);
    worksheet_write_datetime(sheet, i + 1, 1, &when, stamp);
    if (*notes[i]) worksheet_write_string(sheet, i + 1, 2, notes[i], nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "sample.xlsx";
  lxw_workbook* book = workbook_new(path);
  if (!book) {
    std::fprintf(stderr, "cannot create %s\n", path);
    return 1;
  }
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "yyyy-mm-dd");
  lxw_format* stamp = workbook_add_format(book);
  format_set_num_format(stamp, "yyyy-mm-dd hh:mm:ss");
  lxw_format* money = workbook_add_format(book);
  format_set_num_format(money, "#,##0.00");

  write_products(book, money);
  write_orders(book, date, money);
  write_quarter(book);
  write_visits(book, stamp);

  const lxw_error error = workbook_close(book);
  if (error != LXW_NO_ERROR) {
    std::fprintf(stderr, "cannot write %s: %s\n", path, lxw_strerror(error));
    return 1;
  }
  return 0;
}
