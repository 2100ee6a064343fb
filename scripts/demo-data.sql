-- The demo database: messy text of every kind that the cleaning operations handle.
DROP DATABASE IF EXISTS klarifeld_demo;
CREATE DATABASE klarifeld_demo CHARACTER SET utf8mb4;
USE klarifeld_demo;

CREATE TABLE customers (
  id INT PRIMARY KEY,
  name VARCHAR(80),
  city VARCHAR(80),
  phone VARCHAR(40),
  email VARCHAR(120),
  notes TEXT
);
INSERT INTO customers VALUES
  (1, '  Ada   Lovelace ', 'London\t', '+44 (20) 7946-0018', 'ada@example.org', 'Prefers mail.\r\nNo calls.'),
  (2, 'Grace Hopper   ', '\tArlington', '703-555-0199 ext. 12', 'GRACE@EXAMPLE.ORG ', 'Line one\nLine two\nLine three'),
  (3, '   Alan Turing', 'Wilmslow', '01625 555 0142', NULL, NULL),
  (4, 'Ärzte   Müller  GmbH', 'München', '089/555-0123', 'info@mueller.example', 'Öffnungszeiten: 8–17 Uhr'),
  (5, 'Жанна  Иванова', 'Москва', '+7 495 555-01-23', 'zhanna@example.ru', 'Клиент с 2019 года'),
  (6, NULL, NULL, NULL, NULL, 'All other fields are NULL'),
  (7, 'O''Brien, Pat', 'Dublin', 'tel:+353-1-555-0100', 'pat@example.ie', 'Tabs\tbetween\twords'),
  (8, 'Zoë  😀  Chen', 'Taipei', '(02) 5550-0177', 'zoe@example.tw', 'emoji 😀 and more 🎉');

CREATE TABLE products (
  sku VARCHAR(20) PRIMARY KEY,
  title VARCHAR(100),
  attributes VARCHAR(200),
  price DECIMAL(10,2),
  updated DATETIME
);
INSERT INTO products VALUES
  ('AB-12-X', 'Crème brûlée  kit', 'colour=red; size=L; weight=1.2kg', 12.50, '2021-08-31 13:45:00'),
  ('CD-34-Y', '  Straße map', 'colour=blue; size=M', 7.99, '2022-01-15 09:00:00'),
  ('EF-56-Z', 'Café\tcups (set of 4)', 'material=porcelain', 19.00, NULL),
  ('GH-78-W', 'Notebook A5 #2021', 'pages=120; ruled=yes', 3.25, '2023-06-01 00:00:00'),
  ('IJ-90-V', NULL, NULL, NULL, NULL);

-- No key: twin rows, told apart only by case or trailing blanks.
CREATE TABLE addresses (street VARCHAR(80), zip VARCHAR(12));
INSERT INTO addresses VALUES
  ('1 Main St', '12345'), ('1 Main St', '12345'), ('1 MAIN ST', '12345'),
  ('1 Main St ', '12345'), ('22  Baker   Street', 'NW1 6XE'), (NULL, NULL);

-- Characters that look like nothing or like a space: no-break and other Unicode spaces,
-- zero-width characters and control characters, as pasted from web pages and old exports.
CREATE TABLE imports (
  id INT PRIMARY KEY,
  company VARCHAR(80),
  reference VARCHAR(40),
  remark TEXT
);
INSERT INTO imports VALUES
  (1, CONCAT('Acme', _utf8mb4 X'C2A0', 'Ltd'), CONCAT('INV', _utf8mb4 X'E2808B', '-2024-001'),
   'Pasted from a web page'),
  (2, CONCAT('Nordwind', _utf8mb4 X'E280AF', 'AG'), CONCAT(_utf8mb4 X'EFBBBF', 'INV-2024-002'),
   CONCAT('Scanned', CHAR(7), ' twice')),
  (3, CONCAT('Blue', _utf8mb4 X'E28083', 'Harbour', _utf8mb4 X'C2A0'), 'INV-2024-003',
   CONCAT('Old export', CHAR(27), '[0m with a terminal code')),
  (4, 'Plain Trading', CONCAT('INV-2024-', _utf8mb4 X'E2808D', '004'),
   CONCAT('Page', CHAR(12), 'break')),
  (5, CONCAT(_utf8mb4 X'E38080', 'Sakura Shoji'), 'INV-2024-005', 'Ideographic space first');

CREATE TABLE `odd ``name`` table` (`id` INT PRIMARY KEY, `a ``field``` VARCHAR(40));
INSERT INTO `odd ``name`` table` VALUES (1, '  backquotes  in names  '), (2, 'x`y');

-- Left out of the table list: names that begin with "sys".
CREATE TABLE sys_settings (k VARCHAR(20) PRIMARY KEY, v VARCHAR(20));

-- A large table, for the feel of a long run.
CREATE TABLE big_log (
  id INT PRIMARY KEY,
  message VARCHAR(120),
  source VARCHAR(40)
) ENGINE=InnoDB;
INSERT INTO big_log
  SELECT seq,
         CASE MOD(seq, 5)
           WHEN 0 THEN CONCAT('  event ', seq, '   done  ')
           WHEN 1 THEN CONCAT('event\t', seq, '\r\nnext line')
           WHEN 2 THEN CONCAT('Event-', seq, ': OK')
           WHEN 3 THEN CONCAT('évènement ', seq)
           ELSE NULL
         END,
         CONCAT('host', MOD(seq, 17), '.example ')
  FROM seq_1_to_150000;
