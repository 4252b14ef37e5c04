// Placeholder: a naive store until the packed one lands.
#include <map>
#include "platform/record_store.h"
namespace keldrin {
struct RecordStore::Impl { int rows = 0, cols = 0; std::map<std::pair<int,int>, std::string> cells; };
RecordStore::RecordStore() : impl_(new Impl) {}
RecordStore::~RecordStore() { delete impl_; }
RecordStore::RecordStore(RecordStore&& o) noexcept : impl_(o.impl_) { o.impl_ = new Impl; }
RecordStore& RecordStore::operator=(RecordStore&& o) noexcept { std::swap(impl_, o.impl_); return *this; }
int RecordStore::rowCount() const { return impl_->rows; }
int RecordStore::columnCount() const { return impl_->cols; }
void RecordStore::setRowCount(int r) { impl_->rows = r; for (auto* o : observers_) o->tableReset(); }
void RecordStore::setColumnCount(int c) { impl_->cols = c; for (auto* o : observers_) o->tableReset(); }
void RecordStore::appendRow() { ++impl_->rows; for (auto* o : observers_) o->rowsAppended(impl_->rows, impl_->rows); }
std::string_view RecordStore::cell(int r, int c) const { auto it = impl_->cells.find({r, c}); return it == impl_->cells.end() ? std::string_view() : std::string_view(it->second); }
void RecordStore::setCell(int r, int c, std::string_view t) { impl_->cells[{r, c}] = std::string(t); for (auto* o : observers_) o->cellChanged(r, c); }
void RecordStore::replaceWith(RecordStore&& other) { std::swap(impl_, other.impl_); for (auto* o : observers_) o->tableReset(); }
std::size_t RecordStore::memoryBytes() const { return 0; }
void RecordStore::addObserver(StoreObserver* o) { observers_.push_back(o); }
void RecordStore::removeObserver(StoreObserver* o) { std::erase(observers_, o); }
void DataSource::appendRow() { store_->appendRow(); }
int DataSource::rowCount() const { return store_ ? store_->rowCount() : 0; }
std::string_view DataSource::cell(int r, int c) const { return store_ ? store_->cell(r, c) : std::string_view(); }
void DataSource::setCell(int r, int c, std::string_view t) { if (store_) store_->setCell(r, c, t); }
void DataSource::applyStyle(std::uint32_t colour, int number, bool flag) { style_ = {colour, number, flag, true}; }
bool DataSource::save(Files&, const std::string&, std::string* e) const { if (e) *e = "not yet"; return false; }
bool DataSource::load(Files&, const std::string&, std::string* e) { if (e) *e = "not yet"; return false; }
}  // namespace keldrin
