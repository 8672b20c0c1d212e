// Placeholder so the tree builds; the board's owners replace it.
#include "sim/Board.h"

namespace sim {

struct Board::Impl {
    Options options;
    uint8_t data = 0;
};

bool ParseOptions(const std::string&, Options&, std::string&) { return true; }
std::string OptionsHelp() { return {}; }

Board::Board(const Options& options) : impl_(std::make_unique<Impl>()) { impl_->options = options; }
Board::~Board() = default;
void Board::WriteData(uint8_t value) { impl_->data = value; }
uint8_t Board::ReadData() const { return impl_->data; }
uint8_t Board::ReadStatus() const { return 0x10; }
const Options& Board::options() const { return impl_->options; }

}  // namespace sim
