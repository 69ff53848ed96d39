// The door through which storage reaches the expression layer: column defaults that are
// expressions, filter and WHERE expressions bound to a cursor. Storage declares these two small
// interfaces; the SQL layer implements them and registers its factory at start-up. Without a
// registered factory every default is a literal value.
// Thread safety: the factory is set once at start-up and only read afterwards.
#pragma once

#include <memory>

namespace nrd {

class TNRDBaseSession;
class TNRDCursor;
class TNRDScanExpression;
class TNRDVariant;

// A parsed expression. Storage owns the objects it receives and frees them.
class TNRDExpression {
 public:
  virtual ~TNRDExpression() = default;
  // Evaluates the expression into `value`. `session` may be null for an expression that refers to
  // no field (a column default). Throws ENRDException on failure.
  virtual void GetValue(TNRDBaseSession* session, TNRDVariant& value) = 0;
  // Binds a filter or WHERE expression to the cursor it filters; `parentQueryAO` is the query
  // operator of an enclosing query (opaque to storage), `parentCursor` its cursor, both may be null.
  virtual void AssignCursor(TNRDCursor* cursor, void* parentQueryAO, TNRDCursor* parentCursor) = 0;
  // The expression's side that plans index scans, when the object has one. A filter asks for it once
  // per record, so an implementation answers directly; null makes the search layer look for it by a
  // cast.
  virtual TNRDScanExpression* ScanExpression() { return nullptr; }
};

class TNRDExpressionFactory {
 public:
  virtual ~TNRDExpressionFactory() = default;
  // The parse of a default value's text as an expression, or null when the text does not parse or
  // refers to a field. Never throws for text that does not parse.
  virtual std::unique_ptr<TNRDExpression> ParseForDefaultValueExpression(const TNRDVariant& defaultValue) = 0;
};

// The registered factory (not owned), or null. Tests install stubs and remove them again.
void SetExpressionFactory(TNRDExpressionFactory* factory);
TNRDExpressionFactory* GetExpressionFactory();

}  // namespace nrd
