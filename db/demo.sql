-- Grace Fellowship Church: a small congregation with one survey, one strategy
-- and the two settings LvMAPI reads.

INSERT INTO Person VALUES
 ('{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B01}', 'Ann', '', 'Lee', 'ann.lee@example.org', '555-0101', '', '', '12 Elm Street', '', 'Springfield', 'IL', '62701'),
 ('{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}', 'Robert', 'James', 'O''Brien', 'rob.obrien@example.org', '555-0102', '555-0199', '', '48 Oak Avenue', 'Apt 3', 'Springfield', 'IL', '62702'),
 ('{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B03}', 'Maria', 'Elena', 'Santos', 'maria.santos@example.org', '555-0103', '', '', '7 Birch Lane', '', 'Springfield', 'IL', '62704'),
 ('{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B04}', 'David', '', 'Kim', 'david.kim@example.org', '', '555-0104', '', '90 Maple Court', '', 'Chatham', 'IL', '62629'),
 ('{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B05}', 'Grace', 'Wanjiru', 'Mwangi', 'grace.mwangi@example.org', '555-0105', '', '', '3 Cedar Road', '', 'Springfield', 'IL', '62703'),
 ('{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B06}', 'John', '', 'Miller', 'pastor.john@example.org', '555-0100', '555-0110', '', '1 Church Street', '', 'Springfield', 'IL', '62701');

INSERT INTO SurveyQuestionType VALUES
 ('1', 'True or false'), ('2', 'Yes or no'), ('3', 'Scale'), ('4', 'Percentage'),
 ('5', 'Number'), ('6', 'Multiple choice'), ('7', 'Text');

INSERT INTO Survey VALUES
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'Spring Ministry Survey',
  'Dear friends at Grace Fellowship,',
  'Please take a few minutes to tell us how our ministries are serving you. Reply to this e-mail with your answers typed between the answer tags.');

INSERT INTO SurveyMultipleChoiceSet VALUES
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C10}', 'Outreach Events'),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C20}', 'Service Times');
INSERT INTO SurveyMultipleChoiceAnswer VALUES
 ('{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C11}', 'Harvest Fest'),
 ('{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C12}', 'Summer Slam'),
 ('{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C13}', 'Winterland'),
 ('{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C14}', 'Spring Fling'),
 ('{B7E2D1C0-2222-4A5B-8C7D-6E5F4A3B2C21}', 'Saturday 6 pm'),
 ('{B7E2D1C0-2222-4A5B-8C7D-6E5F4A3B2C22}', 'Sunday 9 am'),
 ('{B7E2D1C0-2222-4A5B-8C7D-6E5F4A3B2C23}', 'Sunday 11 am');
INSERT INTO SurveyMultipleChoiceXRef VALUES
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C10}', '{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C11}', 1),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C10}', '{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C12}', 2),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C10}', '{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C13}', 3),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C10}', '{B7E2D1C0-1111-4A5B-8C7D-6E5F4A3B2C14}', 4),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C20}', '{B7E2D1C0-2222-4A5B-8C7D-6E5F4A3B2C21}', 1),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C20}', '{B7E2D1C0-2222-4A5B-8C7D-6E5F4A3B2C22}', 2),
 ('{A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C20}', '{B7E2D1C0-2222-4A5B-8C7D-6E5F4A3B2C23}', 3);

INSERT INTO SurveyQuestion VALUES
 ('{C0A80001-5E11-4D2A-9F3B-000000000001}', 1, 1, 0, 0, '', 'Our Sunday services help me grow in my faith.'),
 ('{C0A80001-5E11-4D2A-9F3B-000000000002}', 2, 2, 0, 0, '', 'Are you part of a small group?'),
 ('{C0A80001-5E11-4D2A-9F3B-000000000003}', 3, 3, 1, 10, '', 'On a scale of 1 to 10, how welcome did you feel when you first visited?'),
 ('{C0A80001-5E11-4D2A-9F3B-000000000004}', 4, 4, 0, 0, '', 'What share of your volunteering time goes to children''s ministry?'),
 ('{C0A80001-5E11-4D2A-9F3B-000000000005}', 5, 5, 0, 0, '', 'How many years have you been attending Grace Fellowship?'),
 ('{C0A80001-5E11-4D2A-9F3B-000000000006}', 6, 6, 0, 0, '{a1d4c3b2-0e1f-4a5b-8c7d-6e5f4a3b2c10}', 'Which outreach event reached our neighbours best?');
INSERT INTO SurveyQuestionXRef VALUES
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{C0A80001-5E11-4D2A-9F3B-000000000001}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{C0A80001-5E11-4D2A-9F3B-000000000002}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{C0A80001-5E11-4D2A-9F3B-000000000003}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{C0A80001-5E11-4D2A-9F3B-000000000004}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{C0A80001-5E11-4D2A-9F3B-000000000005}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{C0A80001-5E11-4D2A-9F3B-000000000006}');

INSERT INTO SurveyPersonXRef VALUES
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B01}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B03}'),
 ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B04}');
INSERT INTO SurveyOtherEmail VALUES
 ('{D4E5F6A7-0000-4B1C-8D2E-3F4A5B6C7D81}', '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'elders@gracefellowship.example.org'),
 ('{D4E5F6A7-0000-4B1C-8D2E-3F4A5B6C7D82}', '{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'jane.visitor@example.net');

INSERT INTO Strategy VALUES
 ('{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', 'Reach Our Neighbourhood 2027',
  'Grow our presence in the streets around the church through service and hospitality.');

INSERT INTO SMARTGoal VALUES
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', 'Launch a monthly community meal',
  'Serve a free hot meal in the fellowship hall on the first Saturday of every month.',
  'Forty guests from the neighbourhood at three meals in a row.', '2027-03-31',
  '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B03}'),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}', 'Renovate the youth room',
  'Paint, new lighting and furniture so the youth room can host midweek groups.',
  'Room in use by two groups every week.', '2027-06-30',
  '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}'),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0003}', 'Start a neighbourhood prayer walk',
  'Walk the streets around the church once a month and pray for the homes we pass.',
  'Ten regular walkers by the autumn.', '2027-09-15',
  '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B05}');
INSERT INTO StrategyGoalXRef VALUES
 ('{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', '{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}'),
 ('{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', '{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}'),
 ('{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', '{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0003}');

INSERT INTO Resource VALUES
 ('{E0000001-0000-4000-8000-000000000001}', 1, 'Kitchen equipment', 'Two roasting ovens and serving trays', ''),
 ('{E0000001-0000-4000-8000-000000000002}', 2, 'Volunteer cooks', 'Six people per meal', 'kitchen@gracefellowship.example.org'),
 ('{E0000001-0000-4000-8000-000000000003}', 3, 'Fellowship hall', 'Booked first Saturdays', ''),
 ('{E0000001-0000-4000-8000-000000000004}', 4, 'Meal budget', '$300 a month', ''),
 ('{E0000001-0000-4000-8000-000000000005}', 5, 'Flyers', 'Printed invitations for the neighbourhood', ''),
 ('{E0000001-0000-4000-8000-000000000006}', 7, 'Archive boxes', 'Kept for the records office', ''),
 ('{E0000001-0000-4000-8000-000000000007}', 4, 'Renovation fund', '$4,500 from the building fund', '');
INSERT INTO SMARTGoalResourceXref VALUES
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{E0000001-0000-4000-8000-000000000001}', 'Borrow the second oven from St. Mark''s'),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{E0000001-0000-4000-8000-000000000002}', 'Rota kept by Maria'),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{E0000001-0000-4000-8000-000000000003}', ''),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{E0000001-0000-4000-8000-000000000004}', ''),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{E0000001-0000-4000-8000-000000000006}', 'Not needed for the meal'),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}', '{E0000001-0000-4000-8000-000000000007}', 'Approved by the board');

INSERT INTO StrategicPlan VALUES
 ('{D0000001-0000-4000-8000-000000000001}', 'Menu planning', 'Agree a simple seasonal menu with the cooks'),
 ('{D0000001-0000-4000-8000-000000000002}', 'Invitations', 'Deliver flyers to 400 homes a week before each meal'),
 ('{D0000001-0000-4000-8000-000000000003}', 'Work days', 'Two Saturday work days for painting and lighting');
INSERT INTO SMARTGoalPlanXref VALUES
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{D0000001-0000-4000-8000-000000000001}', 'Start with soup and bread'),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', '{D0000001-0000-4000-8000-000000000002}', ''),
 ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}', '{D0000001-0000-4000-8000-000000000003}', 'March and April');

INSERT INTO Vision VALUES
 ('{B0000001-0000-4000-8000-000000000001}', 'A Light on Our Street',
  'Seek the welfare of the city where I have sent you.',
  'Young families and older neighbours living alone.',
  'A mixed neighbourhood of rented flats and old houses.',
  'Many of our neighbours have never been inside a church.',
  'We see Grace Fellowship as a house with open doors. ');
INSERT INTO StrategyVisionXref VALUES
 ('{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', '{B0000001-0000-4000-8000-000000000001}');
INSERT INTO VisionFunctionalArea VALUES
 ('{FA000001-0000-4000-8000-000000000001}', 'Hospitality'),
 ('{FA000001-0000-4000-8000-000000000002}', 'Prayer');
INSERT INTO VisionFunctionalAreaXRef VALUES
 ('{B0000001-0000-4000-8000-000000000001}', '{FA000001-0000-4000-8000-000000000001}', 'Every guest is welcomed by name. '),
 ('{B0000001-0000-4000-8000-000000000001}', '{FA000001-0000-4000-8000-000000000002}', 'Every street is prayed for each month.');

INSERT INTO Settings VALUES
 (6, 'Update the goal''s task when a goal status reply arrives', '', 1, 0),
 (8, 'Fetch replies through desktop mail automation', '', 0, 0);
